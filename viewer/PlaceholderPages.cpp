#include "viewer/PlaceholderPages.h"

#include "viewer/model/ViewerDispatch.h"

#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

std::string NameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

FileSummaryPage::FileSummaryPage(const char* objectName, QWidget* parent) : QWidget(parent)
{
    setObjectName(objectName);
    auto* column = new QVBoxLayout(this);
    summary_ = new QLabel(this);
    summary_->setTextFormat(Qt::PlainText);
    summary_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    summary_->setWordWrap(true);
    column->addWidget(summary_, 1);
}

void FileSummaryPage::ShowFile(const std::string& path)
{
    struct stat st;
    QString text = Decode(NameOf(path));
    if (::stat(path.c_str(), &st) == 0)
        text += "\n" + QLocale::system().toString(qlonglong(st.st_size)) + " bytes";
    summary_->setText(text);
}

void FileSummaryPage::ClearPage() { summary_->clear(); }

} // namespace tarnel
