#include "panes/DirData.h"
#include "panes/ReadDirectory.h"
#include "widgets/PaneView.h"

#include <QTest>

#include <gtest/gtest.h>

#include <random>

using namespace tarnel;

TEST(PaneView, WidestTextAgreesWithMeasuringEveryText)
{
    TDirData data;
    DisplayLocale locale;
    PaneView pane(true, data, locale, nullptr);
    std::mt19937 rng(7);
    const std::string alphabet = "AVWATAYaviwmlI1.-_ LTToFfj";
    std::vector<std::string> texts;
    for (int i = 0; i < 3000; ++i) {
        std::string t;
        for (int n = 1 + int(rng() % 40); n > 0; --n)
            t += alphabet[rng() % alphabet.size()];
        texts.push_back(t);
    }
    texts.push_back("\xc3\xa9\xc3\xa9\xc3\xa9\xe4\xb8\xad\xe6\x96\x87"); // measured exactly
    texts.push_back("bad\xff\xfe");
    std::vector<const std::string*> pointers;
    int expected = 0;
    for (const std::string& t : texts) {
        pointers.push_back(&t);
        expected = std::max(expected, pane.TextWidth(t));
    }
    EXPECT_EQ(pane.WidestText(pointers), expected);
    EXPECT_EQ(pane.WidestText({}), 0);
}

namespace {

struct IdleWorker : PaneWorker {
    void Terminate() override {}
    void Wait() override {}
};

// Refuses while a released worker of the pane "lingers", then starts.
struct BusyFactory : PaneWorkerFactory {
    bool lingering = true;
    int starts = 0;
    std::unique_ptr<PaneWorker> Start()
    {
        if (lingering)
            return nullptr;
        ++starts;
        return std::make_unique<IdleWorker>();
    }
    std::unique_ptr<PaneWorker> StartIconThread(TDirData&, std::mutex&, const std::string&) override { return Start(); }
    std::unique_ptr<PaneWorker> StartSizeThread(TDirData&, std::mutex&, const std::string&) override { return Start(); }
    bool MayStartLater(const TDirData&) const override { return lingering; }
};

} // namespace

// The pane itself tries the workers again a read could not start, on a
// timer, until they start; then it stops trying.
TEST(PaneView, WorkersARereadCouldNotStartAreTriedAgainUntilTheyStart)
{
    TDirData data;
    DisplayLocale locale;
    PaneView pane(true, data, locale, nullptr);
    DriveList noDrives;
    BusyFactory factory;
    data.Controls = &pane;
    data.Drives = &noDrives;
    data.Workers = &factory;
    data.MoveTo(PanePlace::Directory("/"));
    ReadDirectory(data, locale);
    EXPECT_FALSE(data.SizeThread);
    QTest::qWait(600);
    EXPECT_FALSE(data.SizeThread) << "still lingering: nothing starts";
    factory.lingering = false;
    ASSERT_TRUE(QTest::qWaitFor([&] { return data.SizeThread && data.IconThread; }, 3000));
    QTest::qWait(600);
    EXPECT_EQ(factory.starts, 2) << "tried again after the workers started";
    data.StopWorkers();
}
