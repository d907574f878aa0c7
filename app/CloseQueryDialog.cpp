#include "app/CloseQueryDialog.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace tarnel {

CloseQueryDialog::CloseQueryDialog(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName("DlgCloseQuery");
    setWindowTitle("Close confirmation");
    auto* layout = new QVBoxLayout(this);
    auto* banner = new QLabel("You have requested to quit Tarnel", this);
    QFont bannerFont = banner->font();
    bannerFont.setBold(true);
    bannerFont.setPointSizeF(bannerFont.pointSizeF() * 1.3);
    banner->setFont(bannerFont);
    layout->addWidget(banner);
    auto* reminder = new QLabel("Please, remember that you can minimize Tarnel to the TaskBar with one HOT KEY "
                                "and then recall it with the same HOT KEY.",
                                this);
    reminder->setWordWrap(true);
    layout->addWidget(reminder);
    layout->addWidget(new QLabel("Do you really want to quit Tarnel?", this));

    auto* buttons = new QGridLayout;
    const struct {
        const char* caption;
        Answer answer;
        int row, column;
    } table[] = {
        {"No!", No, 0, 0},
        {"Yes!", Yes, 0, 1},
        {"Minimize!", Minimize, 0, 2},
        {"Yes! Always quit in the future", YesAlways, 1, 0},
        {"No! Never quit in the future", NoNever, 1, 1},
        {"No! Always minimize in the future", NoAlwaysMinimize, 1, 2},
    };
    for (const auto& b : table) {
        auto* button = new QPushButton(b.caption, this);
        button->setObjectName(QString("Answer%1").arg(int(b.answer)));
        const Answer answer = b.answer;
        connect(button, &QPushButton::clicked, this, [this, answer] { done(answer); });
        buttons->addWidget(button, b.row, b.column);
        if (answer == NoAlwaysMinimize) {
            button->setDefault(true);
            button->setFocus();
        } else {
            button->setAutoDefault(false);
        }
    }
    layout->addLayout(buttons);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        adjustSize();
        move(screen->availableGeometry().center() - rect().center());
    }
}

} // namespace tarnel
