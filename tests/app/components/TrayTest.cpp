#include "app/components/TrayIcon.h"

#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

using namespace tarnel;

TEST(TrayIconTest, ToolTipKeepsSixtyTwoCharacters)
{
    TTrayIcon tray;
    tray.SetToolTip("Shift-F5 to hide/restore");
    EXPECT_EQ("Shift-F5 to hide/restore", tray.ToolTip());

    const QString exact(62, QLatin1Char('a'));
    tray.SetToolTip(exact);
    EXPECT_EQ(exact, tray.ToolTip());

    // Counted in characters, not bytes.
    const QString longer = QString(60, QChar(0x00e9)) + QStringLiteral("xyz");
    tray.SetToolTip(longer);
    EXPECT_EQ(longer.left(62), tray.ToolTip());
    EXPECT_EQ(62, tray.ToolTip().size());
}

TEST(TrayIconTest, NoTrayMeansNeverActive)
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "this desktop has a tray";
    TTrayIcon tray;
    QMenu menu;
    QSignalSpy clicked(&tray, &TTrayIcon::clicked);
    tray.SetIcon(QIcon::fromTheme("folder"));
    tray.SetToolTip("Esc or Shift-F5 to hide");
    tray.SetPopupMenu(&menu);
    tray.SetActive(true);
    EXPECT_FALSE(tray.Active());
    // Everything set is kept for when it is asked again.
    EXPECT_EQ("Esc or Shift-F5 to hide", tray.ToolTip());
    EXPECT_EQ(&menu, tray.PopupMenu());
    tray.SetActive(false);
    EXPECT_FALSE(tray.Active());
    EXPECT_EQ(0, clicked.count());
}
