#include "app/components/SaveForm.h"
#include "app/TryWait.h"

#include <QCoreApplication>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

using namespace tarnel;

namespace {

bool SamePlacement(const WindowPlacement& a, const WindowPlacement& b)
{
    return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height && a.state == b.state &&
           a.restoreToMax == b.restoreToMax;
}

std::string Describe(const WindowPlacement& p)
{
    return std::to_string(p.left) + "," + std::to_string(p.top) + " " + std::to_string(p.width) + "x" +
           std::to_string(p.height) + " state " + std::to_string(p.state) + (p.restoreToMax ? " max" : "");
}

const QRect kDesigned(30, 40, 640, 480);

} // namespace

TEST(SaveFormTest, AZeroBoundKeepsTheDesignedPlacement)
{
    for (int zero = 0; zero < 4; ++zero) {
        WindowPlacement stored{120, 80, 500, 350, 3, false};
        int* bounds[] = {&stored.left, &stored.top, &stored.width, &stored.height};
        *bounds[zero] = 0;
        QWidget window;
        window.setGeometry(kDesigned);
        EXPECT_FALSE(TSaveForm::RestorePlacement(window, stored)) << zero;
        EXPECT_EQ(kDesigned, window.geometry()) << zero;
        EXPECT_EQ(Qt::WindowNoState, window.windowState()) << zero; // State 3 not applied either
    }
}

TEST(SaveFormTest, NormalAndMaximisedRoundTrip)
{
    for (int state : {1, 3}) {
        const WindowPlacement stored{120, 80, 500, 350, state, false};
        QWidget window;
        window.setGeometry(kDesigned);
        EXPECT_FALSE(TSaveForm::RestorePlacement(window, stored));
        EXPECT_EQ(state == 3, window.isMaximized());
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        const WindowPlacement read = TSaveForm::ReadPlacement(window, false);
        EXPECT_TRUE(SamePlacement(stored, read)) << Describe(read);
    }
}

TEST(SaveFormTest, MaximisedWhileHiddenComesBackMaximised)
{
    QWidget before;
    before.setGeometry(150, 90, 420, 300);
    before.showMaximized();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&before));
    // Saved while the program sits in the tray.
    const WindowPlacement saved = TSaveForm::ReadPlacement(before, true);
    EXPECT_TRUE(SamePlacement(WindowPlacement{150, 90, 420, 300, 2, true}, saved)) << Describe(saved);

    QWidget window;
    EXPECT_TRUE(TSaveForm::RestorePlacement(window, saved)); // start hidden
    EXPECT_TRUE(window.windowState().testFlag(Qt::WindowMinimized));
    EXPECT_EQ(QRect(150, 90, 420, 300), window.geometry());

    // Restoring a minimised window makes it normal; the placement puts the
    // maximised state back.
    window.showNormal();
    TRY_VERIFY_WITH_TIMEOUT(window.isMaximized(), 2000);
    EXPECT_FALSE(window.isMinimized());
    // Only the first restore: later ones are the user's business.
    window.showNormal();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.isMaximized());

    // Minimised without the maximised flag comes back normal.
    QWidget plain;
    EXPECT_TRUE(TSaveForm::RestorePlacement(plain, WindowPlacement{150, 90, 420, 300, 2, false}));
    EXPECT_TRUE(plain.isMinimized());
    EXPECT_FALSE(plain.isMaximized());
    plain.showNormal();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(plain.isMaximized());
    EXPECT_FALSE(plain.isMinimized());
}

TEST(SaveFormTest, PlacementNumbers)
{
    EXPECT_EQ(31, TSaveForm::PlacementNumber("0x1F"));
    EXPECT_EQ(255, TSaveForm::PlacementNumber("0Xff"));
    EXPECT_EQ(-1, TSaveForm::PlacementNumber("0xFFFFFFFF"));
    EXPECT_EQ(120, TSaveForm::PlacementNumber("120"));
    EXPECT_EQ(-8, TSaveForm::PlacementNumber("-8"));
    EXPECT_EQ(7, TSaveForm::PlacementNumber("+7"));
    for (const char* unreadable : {"abc", "", "0x", "12abc", "0x1G", "1 2", "+-3", "99999999999", "0x100000000"})
        EXPECT_EQ(0, TSaveForm::PlacementNumber(unreadable)) << unreadable;
}
