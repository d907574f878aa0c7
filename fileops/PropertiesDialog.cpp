#include "fileops/PropertiesDialog.h"

#include "app/WorkerAnswers.h"
#include "fileops/LaunchApplication.h"
#include "fileops/BackgroundWork.h"
#include "fileops/model/Operation.h"
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

#include <cerrno>
#include <system_error>
#include <iterator>

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

// getpwuid and getgrgid share one buffer between threads: the _r forms.
QString Owner(uid_t uid, gid_t gid)
{
    std::vector<char> buffer(16384);
    passwd user {};
    passwd* foundUser = nullptr;
    group grp {};
    group* foundGroup = nullptr;
    const bool haveUser = getpwuid_r(uid, &user, buffer.data(), buffer.size() / 2, &foundUser) == 0 && foundUser;
    const bool haveGroup =
        getgrgid_r(gid, &grp, buffer.data() + buffer.size() / 2, buffer.size() / 2, &foundGroup) == 0 && foundGroup;
    return QString("%1:%2")
        .arg(haveUser ? QString::fromLocal8Bit(user.pw_name) : QString::number(uid))
        .arg(haveGroup ? QString::fromLocal8Bit(grp.gr_name) : QString::number(gid));
}

QString Time(const timespec& t)
{
    return QLocale::system().toString(QDateTime::fromSecsSinceEpoch(t.tv_sec), QLocale::LongFormat);
}

constexpr const char* kSingleRows[] = {"Owner:", "Permissions:", "Modified:", "Accessed:", "Changed:"};
const QString kAsking = QStringLiteral("…");

} // namespace

struct PropertiesDialog::Facts {
    bool found = false;
    QString type;
    QStringList values; // one for each of kSingleRows
};

PropertiesDialog::PropertiesDialog(const std::vector<std::string>& paths, QWidget* parent, BackgroundWork* work)
    : QDialog(parent), paths_(paths), answers_(new WorkerAnswers(2, this)), work_(work)
{
    if (!work_) {
        work_ = new BackgroundWork(this);
        work_->SetQuitGrace(std::chrono::milliseconds(0)); // going away never waits for the walk
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
        const bool single = paths_.size() == 1;
        AddRow("Type:", single ? kAsking : QString("%1 items").arg(paths_.size()));
        AddRow("Location:", Decode(DirectoryOf(paths_[0])));
        if (single) {
            for (const char* label : kSingleRows)
                AddRow(label, kAsking);
            AskFacts();
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
    if (totalsOp_)
        totalsOp_->Cancel(); // the walk ends at its next entry; its answer goes nowhere
}

QLabel* PropertiesDialog::AddRow(const QString& label, const QString& value)
{
    auto* text = new QLabel(value, this);
    text->setObjectName(label.chopped(1));
    text->setTextFormat(Qt::PlainText); // names may hold anything, markup included
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setWordWrap(true);
    // A name without a blank cannot wrap: it is cut at the dialog's edge
    // (the hint has it whole) rather than widen the dialog off the screen.
    text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    text->setMinimumWidth(0);
    text->setToolTip(value);
    static_cast<QFormLayout*>(static_cast<QVBoxLayout*>(layout())->itemAt(0)->layout())->addRow(label, text);
    rows_.push_back(text);
    return text;
}

QString PropertiesDialog::RowText(const QString& label) const
{
    for (const QLabel* row : rows_)
        if (row->objectName() == label.chopped(1))
            return row->text();
    return {};
}

QString PropertiesDialog::TotalsText() const { return totals_->text(); }

// The one entry's type, owner and times: a look at it may wait on its mount.
void PropertiesDialog::AskFacts()
{
    factsDone_ = false;
    const std::string path = paths_[0];
    answers_->Ask<Facts>(
        [path] {
            Facts facts;
            struct stat st {};
            if (lstat(path.c_str(), &st) != 0) {
                facts.type = QString("Cannot be looked at: %1").arg(QString::fromStdString(std::generic_category().message(errno)));
                return facts;
            }
            facts.found = true;
            if (S_ISDIR(st.st_mode)) {
                facts.type = "Folder";
            } else if (S_ISLNK(st.st_mode)) {
                facts.type = "Symbolic link";
            } else {
                const std::vector<std::string> types = MimeTypesOf(path);
                facts.type = types.empty() ? QString("File")
                                           : QMimeDatabase().mimeTypeForName(QString::fromStdString(types.front())).comment();
            }
            facts.values << Owner(st.st_uid, st.st_gid) << Permissions(st.st_mode) << Time(st.st_mtim)
                         << Time(st.st_atim) << Time(st.st_ctim);
            return facts;
        },
        [this](const Facts& facts) { ShowFacts(facts); });
}

void PropertiesDialog::ShowFacts(const Facts& facts)
{
    const auto set = [this](const QString& label, const QString& value) {
        for (QLabel* row : rows_)
            if (row->objectName() == label.chopped(1)) {
                row->setText(value);
                row->setToolTip(value);
            }
    };
    set("Type:", facts.type);
    for (size_t i = 0; i < std::size(kSingleRows); ++i)
        set(kSingleRows[i], facts.found ? facts.values.value(qsizetype(i)) : QString("?"));
    factsDone_ = true;
}

// The sizes of a large tree take a while: they are summed by an operation
// and shown when done; closing the dialog cancels it and never waits for it.
void PropertiesDialog::StartTotals()
{
    auto totals = std::make_shared<DirectoryTotals>();
    totalsOp_ = MakeTotalsOperation(paths_, totals);
    QPointer<PropertiesDialog> self(this);
    // Its own progress is the "Counting…" line: no progress dialog.
    work_->Run(totalsOp_, RunMode::Foreground, nullptr, [self, totals](const Operation& op) {
        if (!self || op.State() != OperationState::Done)
            return;
        const QLocale locale = QLocale::system();
        self->totals_->setText(QString("%1 (%2 bytes), %3 files, %4 folders")
                                   .arg(locale.formattedDataSize(totals->bytes))
                                   .arg(locale.toString(qlonglong(totals->bytes)))
                                   .arg(totals->files)
                                   .arg(totals->dirs));
        self->done_ = true;
    }, false);
}

} // namespace tarnel
