#include "app/MainWindowSftpCommands.h"

#include "app/UserMessages.h"
#include "app/WorkerAnswers.h"
#include "panes/DirData.h"
#include "panes/PaneControls.h"
#include "panes/PathUtil.h"
#include "platform/ssh/SshConnection.h"
#include "sources/SftpSource.h"
#include "sources/sftp/SftpOperations.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QFrame>
#include <QLabel>
#include <QLocale>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

QLabel* PlainLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

// Sums run one after another over a connection anyway; a few waiting keep
// a server that stopped answering from gathering threads.
constexpr int kSumsWaiting = 4;

WorkerAnswers* SumAnswersOf(QObject* owner)
{
    if (auto* answers = owner->findChild<WorkerAnswers*>("RemoteFolderSums", Qt::FindDirectChildrenOnly))
        return answers;
    auto* answers = new WorkerAnswers(kSumsWaiting, owner);
    answers->setObjectName("RemoteFolderSums");
    return answers;
}

} // namespace

std::shared_ptr<const SftpSource> RemoteSourceOf(const TDirData& pane)
{
    return std::dynamic_pointer_cast<const SftpSource>(pane.SourcesTable().For(pane.Place()));
}

DescriptionStore RemoteDescriptionStore(const TDirData& pane)
{
    const std::shared_ptr<const SftpSource> source = RemoteSourceOf(pane);
    if (!source || !pane.Can(Capability::Describe))
        return {};
    DescriptionStore store;
    store.read = [source](const std::string& path) {
        DescriptionStore::Found found;
        if (const RemoteError error = source->ReadDescription(path, found.exists, found.stored))
            found.problem = "The description cannot be read: " + error.text;
        return found;
    };
    store.write = [source](const std::string& path, const std::string& text) {
        DescriptionStore::Written written;
        if (const RemoteError error = source->WriteDescription(path, text, written.result))
            written.problem = (error.keptAs.empty()
                                   ? "The description was not stored; the folder's DESCRIPT.ION is as it was.\n"
                                   : "The description was not stored.\n") +
                              error.text;
        return written;
    };
    return store;
}

void SumRemoteFolders(TDirData& pane, PaneControls& controls, UserMessages& messages, QObject* owner)
{
    const std::shared_ptr<const SftpSource> source = RemoteSourceOf(pane);
    if (!source)
        return;
    std::vector<int> rows = controls.SelectedRows();
    if (rows.empty() && controls.CurrentRow() >= 0)
        rows.push_back(controls.CurrentRow());
    // Names, not rows: the pane may be read again before the answer comes.
    std::vector<std::string> names;
    for (const int row : rows) {
        if (row < 0 || row >= pane.Count)
            continue;
        const TFileData& e = pane.Item(row);
        if (e.Kind == fkDirectory && !e.IsParentEntry())
            names.push_back(e.Name);
    }
    if (names.empty())
        return;
    struct Sum {
        std::string name;
        SftpSource::FolderTotal total;
        std::string problem;
    };
    const std::string key = pane.Key();
    const std::string folder = pane.Path;
    const bool asked = SumAnswersOf(owner)->Ask<std::vector<Sum>>(
        [source, folder, names] {
            std::vector<Sum> sums;
            const CancelToken never;
            for (const std::string& name : names) {
                Sum& sum = sums.emplace_back();
                sum.name = name;
                const RemoteError error = source->TotalOf(RemoteJoined(folder, name), sum.total, never);
                if (error)
                    sum.problem = error.text;
                // A server that stopped answering would only cut every other walk short as well.
                if (error.notAnswering || error.lost)
                    break;
            }
            return sums;
        },
        [&pane, &controls, &messages, key](const std::vector<Sum>& sums) {
            for (const Sum& sum : sums) {
                if (!sum.problem.empty()) {
                    messages.Warning("The size of " + Decode(sum.name) + " could not be summed:\n" +
                                     Decode(sum.problem));
                    continue;
                }
                if (pane.Key() != key)
                    continue; // the pane has gone elsewhere
                for (int i = 0; i < pane.Count; ++i) {
                    TFileData& e = pane.Item(i);
                    if (e.Kind == fkDirectory && e.Name == sum.name) {
                        e.Size = int64_t(sum.total.bytes);
                        e.UsedBytes = int64_t(sum.total.bytes);
                        e.SubFiles = int32_t(std::min<uint64_t>(sum.total.files, INT32_MAX));
                        e.SubDirs = int32_t(std::min<uint64_t>(sum.total.folders, INT32_MAX));
                        e.SizeDone = 1;
                        break;
                    }
                }
            }
            controls.BeginUpdate();
            controls.EndUpdate();
        });
    if (!asked)
        messages.Warning("Earlier folder sizes are still being summed; try again once they are shown.");
}

std::string PermissionText(uint32_t permissions)
{
    std::string text = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (!(permissions & (0400u >> i)))
            text[size_t(i)] = '-';
    auto special = [&](uint32_t bit, size_t at, char withX, char withoutX) {
        if (permissions & bit)
            text[at] = text[at] == 'x' ? withX : withoutX;
    };
    special(04000, 2, 's', 'S');
    special(02000, 5, 's', 'S');
    special(01000, 8, 't', 'T');
    return text;
}

struct RemotePropertiesDialog::Facts {
    std::string path;
    RemoteEntry entry;
    std::string linkTarget;
    std::string problem;
};

RemotePropertiesDialog::RemotePropertiesDialog(std::shared_ptr<const SftpSource> source, std::vector<std::string> paths,
                                               QWidget* parent)
    : QDialog(parent), paths_(std::move(paths)), answers_(new WorkerAnswers(1, this))
{
    setObjectName("RemotePropertiesDialog");
    setWindowTitle("Properties");
    auto* layout = new QVBoxLayout(this);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* inner = new QWidget(scroll);
    rows_ = new QVBoxLayout(inner);
    waiting_ = PlainLabel("Asking the server…", inner);
    rows_->addWidget(waiting_);
    rows_->addStretch();
    scroll->setWidget(inner);
    layout->addWidget(scroll);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(480, paths_.size() > 1 ? 480 : 300);

    if (!source) {
        waiting_->setText("The place is not remote.");
        done_ = true;
        return;
    }
    answers_->Ask<std::vector<Facts>>(
        [source, paths = paths_] {
            std::vector<Facts> all;
            for (const std::string& path : paths) {
                Facts& facts = all.emplace_back();
                facts.path = path;
                if (const RemoteError error = source->FactsOf(path, facts.entry, facts.linkTarget))
                    facts.problem = error.text;
            }
            return all;
        },
        [this](const std::vector<Facts>& all) { Show(all); });
}

void RemotePropertiesDialog::Show(const std::vector<Facts>& all)
{
    waiting_->hide();
    QWidget* inner = waiting_->parentWidget();
    const QLocale locale;
    auto time = [&](int64_t seconds) {
        return locale.toString(QDateTime::fromSecsSinceEpoch(seconds), QLocale::ShortFormat);
    };
    int at = 0;
    for (const Facts& facts : all) {
        auto* form = new QFormLayout;
        auto row = [&](const QString& label, const QString& value) {
            QLabel* shown = PlainLabel(value, inner);
            form->addRow(PlainLabel(label, inner), shown);
            shown_.emplace_back(label, shown);
        };
        const size_t slash = facts.path.rfind('/');
        row("Name:", Decode(facts.path.substr(slash + 1)));
        row("Location:", Decode(facts.path.substr(0, slash + 1)));
        if (!facts.problem.empty()) {
            row("Problem:", Decode(facts.problem));
        } else {
            const RemoteEntry& e = facts.entry;
            row("Type:", e.link ? (e.directory ? "Link to a folder" : "Link") : e.directory ? "Folder" : "File");
            if (!e.directory)
                row("Size:", locale.toString(qulonglong(e.size)) + " bytes");
            row("Modified:", time(e.mtime));
            if (e.atime != 0)
                row("Accessed:", time(e.atime));
            row("Permissions:", QString::fromStdString(PermissionText(e.permissions)) +
                                    QString(" (%1)").arg(e.permissions & 07777, 4, 8, QChar('0')));
            row("Owner:", QString::number(e.uid));
            row("Group:", QString::number(e.gid));
            if (e.link)
                row("Link target:", Decode(facts.linkTarget));
        }
        if (at > 0) {
            auto* line = new QFrame(inner);
            line->setFrameShape(QFrame::HLine);
            rows_->insertWidget(rows_->count() - 1, line);
        }
        rows_->insertLayout(rows_->count() - 1, form);
        ++at;
    }
    done_ = true;
}

QString RemotePropertiesDialog::Text() const
{
    QStringList lines;
    for (const auto& [label, value] : shown_)
        lines << label + ' ' + value->text();
    return lines.join('\n');
}

} // namespace tarnel
