#include "panes/DirData.h"
#include "widgets/PaneView.h"

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
