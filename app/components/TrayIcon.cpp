#include "app/components/TrayIcon.h"

#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>

namespace tarnel {

TTrayIcon::TTrayIcon(QObject* parent) : QObject(parent) {}

TTrayIcon::~TTrayIcon()
{
    SetActive(false);
}

void TTrayIcon::SetActive(bool active)
{
    if (active == active_)
        return;
    if (!active) {
        active_ = false;
        tray_->hide();
        return;
    }
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    if (!tray_) {
        tray_ = new QSystemTrayIcon(this);
        connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            switch (reason) {
            case QSystemTrayIcon::Trigger:
                emit clicked();
                break;
            case QSystemTrayIcon::DoubleClick:
                emit doubleClicked();
                break;
            case QSystemTrayIcon::Context: // Qt has shown the menu already
                emit rightClicked(QCursor::pos());
                break;
            default:
                break;
            }
        });
    }
    tray_->setIcon(icon_);
    tray_->setToolTip(toolTip_);
    tray_->setContextMenu(menu_);
    tray_->show();
    active_ = true;
}

void TTrayIcon::SetIcon(const QIcon& icon)
{
    icon_ = icon;
    if (tray_)
        tray_->setIcon(icon_);
}

void TTrayIcon::SetToolTip(const QString& text)
{
    toolTip_ = text.left(kMaxToolTip);
    if (tray_)
        tray_->setToolTip(toolTip_);
}

void TTrayIcon::SetPopupMenu(QMenu* menu)
{
    menu_ = menu;
    if (tray_)
        tray_->setContextMenu(menu);
}

} // namespace tarnel
