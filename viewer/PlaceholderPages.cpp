#include "viewer/PlaceholderPages.h"

#include "viewer/model/ViewerDispatch.h"

#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
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

// The first lines of a file, control bytes (but tabs and line ends) shown as dots.
std::string FirstLines(int fd, size_t maxBytes, int maxLines)
{
    std::string bytes(maxBytes, '\0');
    size_t got = 0;
    while (got < maxBytes) {
        const ssize_t n = ::read(fd, bytes.data() + got, maxBytes - got);
        if (n <= 0)
            break;
        got += size_t(n);
    }
    bytes.resize(got);
    int lines = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char& c = reinterpret_cast<unsigned char&>(bytes[i]);
        if (c == '\n' && ++lines == maxLines) {
            bytes.resize(i + 1);
            break;
        }
        if (c < 32 && c != '\n' && c != '\t' && c != '\r')
            c = '.';
    }
    return bytes;
}

} // namespace

FirstLinesPage::FirstLinesPage(QWidget* parent) : QWidget(parent)
{
    setObjectName("TextPage");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    text_ = new QPlainTextEdit(this);
    text_->setObjectName("VWText");
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setFont(QFont("monospace"));
    column->addWidget(text_);
}

void FirstLinesPage::ShowFile(const std::string& path)
{
    ClearPage();
    const int fd = OpenRegularFileForReading(path);
    if (fd < 0) {
        text_->setPlainText(QString("Cannot read %1").arg(Decode(path)));
        return;
    }
    const std::string lines = FirstLines(fd, kMaxBytes, kMaxLines);
    ::close(fd);
    text_->setPlainText(QString::fromLocal8Bit(lines.data(), qsizetype(lines.size())));
}

void FirstLinesPage::ClearPage() { text_->clear(); }

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
