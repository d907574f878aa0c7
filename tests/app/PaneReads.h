#pragma once
// Panes read their places on workers: a test that looks at rows after a
// read waits for the read to finish first.
#include "app/MainWindow.h"
#include "widgets/PaneView.h"

#include <QTest>
#include <gtest/gtest.h>

namespace tarnel::test {

inline bool PaneRead(const TDirData& pane, int timeoutMs = 20000)
{
    return QTest::qWaitFor([&] { return !pane.Reading(); }, timeoutMs);
}

// Both panes of the window have their listings whole.
inline void WaitForReads(const MainWindow& window)
{
    EXPECT_TRUE(PaneRead(window.LeftPane()->Data())) << "the left pane's read did not finish";
    EXPECT_TRUE(PaneRead(window.RightPane()->Data())) << "the right pane's read did not finish";
}

// File operations run on workers: a test waits for every one it started to
// end and for the panes they re-read.
inline void WaitForOperations(MainWindow& window, int timeoutMs = 30000)
{
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.OperationsRunning() == 0; }, timeoutMs))
        << "a file operation did not end";
    WaitForReads(window);
}

} // namespace tarnel::test
