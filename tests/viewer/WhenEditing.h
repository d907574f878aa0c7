#pragma once
// Runs a test's steps inside the editor's modal loop. The file is read on a
// worker before the editor opens, so the steps wait for the editor to show.
#include "viewer/EditorForm.h"
#include "viewer/TextView.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

namespace tarnel::test {

inline void WhenEditorShown(TTextView& view, std::function<void(Teditorform&)> action, int timeoutMs = 10000)
{
    auto* poll = new QTimer;
    auto ticks = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [&view, action, poll, ticks, timeoutMs] {
        Teditorform* editor = view.EditorWindow();
        if (!editor || !editor->isVisible()) {
            if (++*ticks * 5 < timeoutMs)
                return;
            ADD_FAILURE() << "the editor did not open";
        }
        poll->stop();
        poll->deleteLater();
        if (editor && editor->isVisible())
            action(*editor);
    });
    poll->start(5);
}

} // namespace tarnel::test
