#include "fileops/PropertiesDialog.h"

#include "fileops/BackgroundWork.h"
#include "platform/DirectoryTotals.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QPointer>
#include <QVBoxLayout>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

QString Permissions(mode_t mode)
{
    const char* letters = "rwxrwxrwx";
    QString text;
    for (int i = 0; i < 9; ++i)
        text += (mode & (0400 >> i)) ? QChar(letters[i]) : QChar('-');
    return text + QString(" (%1)").arg(mode & 07777, 4, 8, QChar('0'));
}

QString Owner(const struct stat& st)
{
    const passwd* user = getpwuid(st.st_uid);
    const group* grp = getgrgid(st.st_gid);
    return QString("%1:%2")
        .arg(user ? QString::fromLocal8Bit(user->pw_name) : QString::number(st.st_uid))
        .arg(grp ? QString::fromLocal8Bit(grp->gr_name) : QString::number(st.st_gid));
}

QString Time(const timespec& t)
{
    return QLocale::system().toString(QDateTime::fromSecsSinceEpoch(t.tv_sec), QLocale::LongFormat);
}

} // namespace

PropertiesDialog::PropertiesDialog(const std::vector<std::string>& paths, QWidget* parent,
                                   BackgroundWork* owner)
    : QDialog(parent), paths_(paths), work_(owner)
{
    if (!work_) {
        ownWork_ = std::make_unique<BackgroundWork>(this);
        work_ = ownWork_.get();
    }
    setObjectName("DlgProperties");
    setWindowTitle("Properties");
    setMinimumWidth(fontMetrics().averageCharWidth() * 60);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    QStringList names;
    for (const std::string& p : paths_)
        names << Decode(p.substr(p.rfind('/') + 1));
    AddRow("Name:", names.join(", "));
    if (!paths_.empty()) {
        struct stat st {};
        const bool single = paths_.size() == 1 && lstat(paths_[0].c_str(), &st) == 0;
        if (single) {
            const QString type = S_ISDIR(st.st_mode) ? "Folder"
                                 : S_ISLNK(st.st_mode)
                                     ? "Symbolic link"
                                     : QMimeDatabase().mimeTypeForFile(Decode(paths_[0])).comment();
            AddRow("Type:", type);
        } else {
            AddRow("Type:", QString("%1 items").arg(paths_.size()));
        }
        AddRow("Location:", Decode(DirectoryOf(paths_[0])));
        if (single) {
            AddRow("Owner:", Owner(st));
            AddRow("Permissions:", Permissions(st.st_mode));
            AddRow("Modified:", Time(st.st_mtim));
            AddRow("Accessed:", Time(st.st_atim));
            AddRow("Changed:", Time(st.st_ctim));
        }
    }
    totals_ = new QLabel("Counting…", this);
    totals_->setObjectName("Totals");
    form->addRow("Size:", totals_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    StartTotals();
}

PropertiesDialog::~PropertiesDialog()
{
    *stop_ = true; // the owner joins the walk once it sees the flag
    ownWork_.reset();
}

void PropertiesDialog::AddRow(const QString& label, const QString& value)
{
    auto* text = new QLabel(value, this);
    text->setTextFormat(Qt::PlainText); // names may hold anything, markup included
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setWordWrap(true);
    // A name without a blank cannot wrap: it is cut at the dialog's edge
    // (the hint has it whole) rather than widen the dialog off the screen.
    text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    text->setMinimumWidth(0);
    text->setToolTip(value);
    static_cast<QFormLayout*>(static_cast<QVBoxLayout*>(layout())->itemAt(0)->layout())->addRow(label, text);
}

QString PropertiesDialog::TotalsText() const { return totals_->text(); }

// The sizes of a large tree take a while: they are summed on a thread and
// shown when done; closing the dialog stops the walk.
void PropertiesDialog::StartTotals()
{
    auto totals = std::make_shared<DirectoryTotals>();
    auto walk = [paths = paths_, totals](const std::atomic<bool>& stop) {
        for (const std::string& p : paths) {
            struct stat st {};
            if (stop || lstat(p.c_str(), &st) != 0)
                continue;
            if (S_ISDIR(st.st_mode)) {
                DirectoryWalker walker(stop, ClusterSizeOf(p));
                walker.Walk(p, *totals);
                if (paths.size() > 1) // one folder tells what it holds, not itself
                    ++totals->dirs;
            } else {
                ++totals->files;
                if (S_ISREG(st.st_mode))
                    totals->bytes += st.st_size;
            }
        }
    };
    auto show = [self = QPointer<PropertiesDialog>(this), totals] {
        if (!self)
            return;
        const QLocale locale = QLocale::system();
        self->totals_->setText(QString("%1 (%2 bytes), %3 files, %4 folders")
                                   .arg(locale.formattedDataSize(totals->bytes))
                                   .arg(locale.toString(qlonglong(totals->bytes)))
                                   .arg(totals->files)
                                   .arg(totals->dirs));
        self->done_ = true;
    };
    stop_ = work_->StartTask(std::move(walk), std::move(show));
}

} // namespace tarnel
