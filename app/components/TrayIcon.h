#pragma once
// The notification-area icon. Where the desktop has no tray the icon never
// becomes active and nothing is reported; the window then minimises instead
// of hiding, so the program stays reachable.
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>

class QSystemTrayIcon;

namespace tarnel {

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kMaxToolTip = 62;

    explicit TTrayIcon(QObject* parent = nullptr);
    ~TTrayIcon() override;

    // True only while the icon is shown in a tray.
    bool Active() const { return active_; }
    void SetActive(bool active);

    QIcon Icon() const { return icon_; }
    void SetIcon(const QIcon& icon);

    // Longer texts keep their first 62 characters.
    QString ToolTip() const { return toolTip_; }
    void SetToolTip(const QString& text);

    // Shown on a right click, before rightClicked. Not owned.
    QMenu* PopupMenu() const { return menu_; }
    void SetPopupMenu(QMenu* menu);

signals:
    void clicked();
    void doubleClicked();
    void rightClicked(QPoint globalPosition);

private:
    QSystemTrayIcon* tray_ = nullptr;
    QIcon icon_;
    QString toolTip_;
    QPointer<QMenu> menu_;
    bool active_ = false;
};

} // namespace tarnel
