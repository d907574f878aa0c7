#include "viewer/InfoPage.h"

#include <QFile>
#include <QLabel>

namespace tarnel {

namespace {

constexpr int kLeft = 8;

QLabel* MakeLabel(QWidget* parent, const char* name, int top)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->move(kLeft, top);
    return label;
}

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

} // namespace

InfoPage::InfoPage(QWidget* parent) : QWidget(parent)
{
    setObjectName("InfoPage");
    info1_ = MakeLabel(this, "VWInfo1", kLeft);
    info2_ = MakeLabel(this, "VWInfo2", kLeft + 24);
    description_ = MakeLabel(this, "VWFileDesc", kLeft + 56);
    description_->setWordWrap(true);
    description_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void InfoPage::ShowInfo(const std::string& description, const std::string& info1, const std::string& info2)
{
    description_->setText(Decode(description));
    info1_->setText(QString::fromStdString(info1));
    info2_->setText(QString::fromStdString(info2));
    for (QLabel* label : {info1_, info2_})
        label->adjustSize();
    resizeEvent(nullptr);
}

void InfoPage::resizeEvent(QResizeEvent*)
{
    // The description wraps within the page, less its left offset on both sides.
    const int width = std::max(this->width() - 2 * kLeft, 20);
    description_->setFixedWidth(width);
    description_->setFixedHeight(std::max(description_->heightForWidth(width), 0));
}

} // namespace tarnel
