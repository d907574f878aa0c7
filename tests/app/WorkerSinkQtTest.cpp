#include "app/WorkerSinkQt.h"
#include "panes/DirData.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <thread>

using namespace tarnel;

namespace {

TEST(WorkerSinkQt, RequestsFromWorkersRunLaterOnTheMainThreadMerged)
{
    WorkerSinkQt sink;
    TDirData left, right;
    std::vector<TDirData*> repainted;
    std::vector<QString> errors;
    std::vector<std::thread::id> threads;
    sink.SetRepaintHandler([&](TDirData& pane) {
        repainted.push_back(&pane);
        threads.push_back(std::this_thread::get_id());
    });
    sink.SetErrorHandler([&](const QString& text) {
        errors.push_back(text);
        threads.push_back(std::this_thread::get_id());
    });

    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            sink.RepaintSizeColumn(left);
        sink.RepaintSizeColumn(right);
        sink.ShowWorkerError("DIRSIZE error for /data/");
    });
    worker.join();
    EXPECT_TRUE(repainted.empty()) << "handled before the event loop ran";

    QCoreApplication::processEvents();
    EXPECT_EQ(repainted, (std::vector<TDirData*>{&left, &right}));
    EXPECT_EQ(errors, (std::vector<QString>{QStringLiteral("DIRSIZE error for /data/")}));
    for (const std::thread::id id : threads)
        EXPECT_EQ(id, std::this_thread::get_id());

    // Once handled, the next request for the pane is posted again.
    sink.RepaintSizeColumn(left);
    QCoreApplication::processEvents();
    EXPECT_EQ(repainted.size(), 3u);
}

} // namespace
