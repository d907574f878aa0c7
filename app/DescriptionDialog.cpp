#include "app/DescriptionDialog.h"

#include "app/MainWindowSftpCommands.h"
#include "app/UserMessages.h"
#include "app/WorkerAnswers.h"
#include "descriptions/Descriptions.h"
#include "panes/DirData.h"
#include "panes/PaneControls.h"
#include "panes/PathUtil.h"
#include "panes/ReadDirectory.h"

#include "widgets/DialogButtons.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

#include <algorithm>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace tarnel {

namespace {

bool IsControl(QChar c) { return c.unicode() < 32; }

} // namespace

QString BlankControlCharacters(QString text)
{
    for (QChar& c : text)
        if (IsControl(c))
            c = u' ';
    return text;
}

DescriptionMemo::DescriptionMemo(QWidget* parent)
    : QPlainTextEdit(parent)
{
    setObjectName("desc");
    setTabChangesFocus(true);
    connect(this, &QPlainTextEdit::textChanged, this, &DescriptionMemo::BlankControls);
}

void DescriptionMemo::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->ignore(); // the dialog presses its default button
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void DescriptionMemo::insertFromMimeData(const QMimeData* source)
{
    if (!source || !source->hasText())
        return;
    QMimeData plain;
    plain.setText(BlankControlCharacters(source->text()));
    QPlainTextEdit::insertFromMimeData(&plain);
}

// The safety net for whatever else inserts text (input methods, code): each
// block boundary and control character becomes a blank in place, so the text
// keeps its length and the cursor its position.
void DescriptionMemo::BlankControls()
{
    if (blanking_)
        return;
    const QString text = toPlainText();
    if (std::none_of(text.begin(), text.end(), IsControl))
        return;
    blanking_ = true;
    QTextCursor edit(document());
    edit.beginEditBlock();
    // toPlainText shows block boundaries as '\n', one position each, so its
    // indexes are document positions.
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!IsControl(text[i]))
            continue;
        edit.setPosition(int(i));
        edit.setPosition(int(i) + 1, QTextCursor::KeepAnchor);
        edit.insertText(QStringLiteral(" "));
    }
    edit.endEditBlock();
    blanking_ = false;
}

DescriptionDialog::DescriptionDialog(QWidget* parent)
    : QDialog(parent)
{
    setObjectName("DlgDescription");
    setWindowTitle("Description");
    auto* layout = new QVBoxLayout(this);
    auto* banner = new QLabel("Enter description for selected file", this);
    banner->setObjectName("Banner");
    layout->addWidget(banner);
    desc_ = new DescriptionMemo(this);
    desc_->setMinimumWidth(420);
    desc_->setFixedHeight(desc_->fontMetrics().lineSpacing() * 3 + 12);
    layout->addWidget(desc_);

    auto* paste = new QPushButton("Paste from clipboard", this);
    paste->setObjectName("PasteClip");
    connect(paste, &QPushButton::clicked, this, &DescriptionDialog::PasteClip);
    AddOkCancelRow(*this, *layout, paste);
}

QString DescriptionDialog::Text() const { return BlankControlCharacters(desc_->toPlainText()); }

void DescriptionDialog::SetText(const QString& text) { desc_->setPlainText(text); }

void DescriptionDialog::PasteClip()
{
    const QString clip = BlankControlCharacters(QApplication::clipboard()->text());
    QTextCursor end = desc_->textCursor();
    end.movePosition(QTextCursor::End);
    end.insertText(clip);
    desc_->setTextCursor(end);
}

namespace {

// One Describe command. The description file is read and written on a worker
// (the folder may be on a mount that does not answer), one entry at a time;
// between the answers the window runs. The run holds names, never rows, and
// its answers die with it.
class DescribeRun : public QObject {
public:
    DescribeRun(TDirData& pane, PaneControls& controls, UserMessages& messages, QWidget* parent,
                std::function<int(DescriptionDialog&)> run, const DisplayLocale& locale,
                std::function<void()> finished, std::vector<std::string> paths, DescriptionStore store)
        : QObject(parent), pane_(pane), controls_(controls), messages_(messages), parent_(parent), run_(std::move(run)),
          locale_(locale), finished_(std::move(finished)), key_(pane.Key()), paths_(std::move(paths)),
          store_(std::move(store)), answers_(new WorkerAnswers(1, this))
    {
        setObjectName("DescribeRun");
    }

    const TDirData* Pane() const { return &pane_; }
    // A newer run took over: what this one still waits for is dropped.
    void Abandon() { abandoned_ = true; }

    void Next()
    {
        if (next_ >= paths_.size()) {
            Finish();
            return;
        }
        const std::string path = paths_[next_++];
        using Found = DescriptionStore::Found;
        Ask<Found>(
            [path, read = store_.read] { return read(path); },
            [this, path](const Found& found) {
                if (Dropped())
                    return;
                if (!found.problem.empty()) {
                    messages_.Warning(QFile::decodeName(QByteArray::fromStdString(found.problem)));
                    Finish();
                } else if (found.exists) {
                    Edit(path, found.stored);
                } else {
                    Next(); // gone meanwhile
                }
            });
    }

private:
    void Edit(const std::string& path, const std::string& stored)
    {
        const QString shown = QString::fromUtf8(stored);
        DescriptionDialog dialog(parent_);
        dialog.SetText(shown);
        if (shown.isEmpty())
            dialog.PasteClip();
        dialog.Memo()->selectAll();
        dialog.Memo()->setFocus();
        if ((run_ ? run_(dialog) : dialog.exec()) != QDialog::Accepted) {
            Next();
            return;
        }
        const QString text = dialog.Text();
        // Unchanged text keeps its bytes, even those that are not UTF-8.
        const std::string bytes = text == shown ? stored : text.toUtf8().toStdString();
        const std::string name = path.substr(path.rfind('/') + 1);
        using Written = DescriptionStore::Written;
        Ask<Written>(
            [path, bytes, write = store_.write] { return write(path, bytes); },
            [this, name](const Written& written) {
                // A file that may be half written, or one that kept its old
                // lines, is told even when the run was given up.
                if (written.result == WriteDescriptionResult::Incomplete)
                    messages_.Warning("The description file may be half written; its new contents are kept in " +
                                      QFile::decodeName(QByteArray::fromStdString(written.keptCopy)));
                if (!written.problem.empty())
                    messages_.Warning(QFile::decodeName(QByteArray::fromStdString(written.problem)));
                if (Dropped())
                    return;
                switch (written.result) {
                case WriteDescriptionResult::RenameFailed:
                    messages_.Warning(kRenameDescriptionWarning);
                    break;
                case WriteDescriptionResult::NameNotStorable:
                    messages_.Warning(kNameNotDescribableText + QFile::decodeName(QByteArray::fromStdString(name)));
                    break;
                default:
                    break;
                }
                Next();
            });
    }

    bool Dropped()
    {
        if (abandoned_)
            deleteLater();
        return abandoned_;
    }

    template <typename Result>
    void Ask(std::function<Result()> work, std::function<void(const Result&)> answer)
    {
        if (answers_->Ask<Result>(std::move(work), std::move(answer)))
            return;
        messages_.Error("The folder has not answered yet; the descriptions were not all stored.");
        Finish();
    }

    // The pane shows the new descriptions, unless it has gone elsewhere meanwhile.
    void Finish()
    {
        if (pane_.Key() == key_) {
            pane_.Positions.Store(pane_.Key(), controls_.TopRow(), controls_.CurrentRow());
            RememberDirSizes(pane_);
            RecordHistory(pane_);
            ReadDirectory(pane_, locale_);
        }
        if (finished_)
            finished_();
        deleteLater();
    }

    TDirData& pane_;
    PaneControls& controls_;
    UserMessages& messages_;
    QWidget* parent_;
    std::function<int(DescriptionDialog&)> run_;
    DisplayLocale locale_;
    std::function<void()> finished_;
    std::string key_;
    std::vector<std::string> paths_; // each entry's folder and name: found files lie in many folders
    DescriptionStore store_;
    size_t next_ = 0;
    bool abandoned_ = false;
    WorkerAnswers* answers_;
};

} // namespace

DescriptionStore DiskDescriptionStore()
{
    DescriptionStore store;
    store.read = [](const std::string& path) {
        DescriptionStore::Found found;
        struct stat st;
        found.exists = ::lstat(path.c_str(), &st) == 0;
        if (found.exists)
            found.stored = ReadDescription(path);
        return found;
    };
    store.write = [](const std::string& path, const std::string& text) {
        DescriptionStore::Written written;
        written.result = WriteDescription(path, text, &written.keptCopy);
        return written;
    };
    return store;
}

void RunDescribeCommand(TDirData& pane, PaneControls& controls, UserMessages& messages, QWidget* parent,
                        std::function<int(DescriptionDialog&)> run, const DisplayLocale& locale,
                        std::function<void()> finished)
{
    DescriptionStore store = pane.Can(Capability::DiskPaths) ? DiskDescriptionStore() : RemoteDescriptionStore(pane);
    if (!store.read) {
        messages.Information(kDescribeInArchiveText);
        if (finished)
            finished();
        return;
    }
    // A run of this pane still waiting for its folder gives way to the new one.
    if (parent)
        for (QObject* child : parent->findChildren<QObject*>("DescribeRun", Qt::FindDirectChildrenOnly))
            if (auto* earlier = dynamic_cast<DescribeRun*>(child); earlier && earlier->Pane() == &pane)
                earlier->Abandon();
    // The paths, not the rows: the pane may be read again while a dialog is
    // open or an answer is awaited, and its rows then belong to other entries.
    std::vector<std::string> paths;
    for (int row : controls.SelectedRows()) {
        const TFileData& e = pane.Item(row);
        if (e.Kind == fkDirectory || e.Kind == fkFile)
            paths.push_back(AddPathDelimiter(pane.DirOf(e)) + e.Name);
    }
    (new DescribeRun(pane, controls, messages, parent, std::move(run), locale, std::move(finished), std::move(paths),
                     std::move(store)))
        ->Next();
}

} // namespace tarnel
