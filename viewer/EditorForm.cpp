#include "viewer/EditorForm.h"

#include "app/UserMessages.h"
#include "app/WorkerAnswers.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QPointer>
#include <QKeyEvent>
#include <QFile>
#include <QLabel>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>

#include <optional>
#include <set>

namespace tarnel {

std::optional<EditingRead> ReadForEditing(QObject* for_, const std::string& path, int64_t maxBytes)
{
    static std::set<const QObject*> waiting; // one read at a time for each asker
    if (!waiting.insert(for_).second)
        return std::nullopt;
    QPointer<QObject> alive(for_);
    std::optional<EditingRead> result;
    {
        QEventLoop loop;
        WorkerAnswers answers(1);
        answers.Ask<EditingRead>(
            [path, maxBytes] {
                EditingRead read;
                FileStamp after;
                const bool before = StampOf(path, read.stamp);
                read.read = ReadFileForEditing(path, maxBytes, read.raw, read.size);
                read.stamped = before && StampOf(path, after) && read.stamp == after;
                return read;
            },
            [&](const EditingRead& read) {
                result = read;
                loop.quit();
            });
        QObject::connect(for_, &QObject::destroyed, &loop, &QEventLoop::quit);
        loop.exec();
    }
    waiting.erase(for_); // compared, never followed
    if (!alive)
        return std::nullopt;
    return result;
}

Teditorform::Teditorform(QWidget* parent)
    : QDialog(parent), answers_(new WorkerAnswers(2, this))
{
    memo1 = new QPlainTextEdit(this);
    memo1->setObjectName("memo1");
    memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo1->installEventFilter(this);

    auto* menus = new QMenuBar(this);
    QMenu* file = menus->addMenu("&File");
    QuitItem = file->addAction("&Quit and don't save..", this, &Teditorform::QuitWithoutSaving);
    SaveCopyItem = file->addAction("Save a &copy..", this, &Teditorform::SaveCopy);
    file->addSeparator();
    SaveCloseItem = file->addAction("&Save and close..", this, &Teditorform::SaveAndClose);
    QMenu* edit = menus->addMenu("&Edit");
    edit->addAction("Cu&t", QKeySequence(Qt::CTRL | Qt::Key_X), memo1, &QPlainTextEdit::cut);
    edit->addAction("&Copy", QKeySequence(Qt::CTRL | Qt::Key_C), memo1, &QPlainTextEdit::copy);
    edit->addAction("&Paste", QKeySequence(Qt::CTRL | Qt::Key_V), memo1, &QPlainTextEdit::paste);
    edit->addAction("&Delete", QKeySequence(Qt::CTRL | Qt::Key_Delete), this,
                    [this] { memo1->textCursor().removeSelectedText(); });
    edit->addAction("&Select All", memo1, &QPlainTextEdit::selectAll);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setMenuBar(menus);
    layout->addWidget(memo1);
    saveState_ = new QLabel(this);
    saveState_->setObjectName("SaveState");
    saveState_->setTextFormat(Qt::PlainText);
    saveState_->setContentsMargins(6, 2, 6, 2);
    saveState_->hide();
    layout->addWidget(saveState_);
    resize(720, 520);
}

void Teditorform::Load(const std::string& fileName, EditedText text, const FileStamp* stamp)
{
    fileName_ = fileName;
    text_ = std::move(text);
    haveStamp_ = stamp != nullptr;
    if (stamp)
        stamp_ = *stamp;
    setWindowTitle(QFile::decodeName(QByteArray::fromStdString(fileName)));
    // One block per line: the lines hold no character the box breaks at.
    QString shown;
    const std::vector<std::u16string>& lines = text_.Lines();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            shown += QChar('\n');
        shown += QStringView(lines[i]);
    }
    memo1->setPlainText(shown);
    memo1->document()->setModified(false);
}

std::string Teditorform::Bytes(bool* lossless) const
{
    // Block texts are raw: no-break spaces and line separators stay what
    // they are.
    std::vector<std::u16string> lines;
    lines.reserve(size_t(memo1->document()->blockCount()));
    for (QTextBlock block = memo1->document()->begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        lines.emplace_back(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size()));
    }
    return text_.Encode(lines, lossless);
}

void Teditorform::Report(const QString& text)
{
    if (messages_)
        messages_->Error(text);
    else
        ShowPlainMessage(this, QMessageBox::Critical, text);
}

namespace {

struct WriteAnswer {
    RewriteResult result;
    bool stamped = false; // the file as written, for the next save's check
    FileStamp stamp;
};

} // namespace

void Teditorform::Write(const std::string& path, const FileStamp* expected, std::function<void(bool, bool)> then)
{
    bool lossless = true;
    std::string bytes = Bytes(&lossless);
    if (!lossless && Ask("Some characters cannot be written in this file's 8-bit text and would be saved as \"?\".\n"
                         "Save anyway?") != Answer::Yes) {
        then(false, false);
        return;
    }
    const bool stampAfter = path == fileName_;
    std::optional<FileStamp> check;
    if (expected)
        check = *expected;
    const bool asked = answers_->Ask<WriteAnswer>(
        [path, bytes = std::move(bytes), check, stampAfter] {
            WriteAnswer answer;
            answer.result = RewriteFile(path, bytes, check ? &*check : nullptr);
            if (answer.result.status == RewriteStatus::Written && stampAfter)
                answer.stamped = StampOf(path, answer.stamp);
            return answer;
        },
        [this, path, expected = expected != nullptr, then](const WriteAnswer& answer) {
            SetSaving(false);
            const RewriteResult& result = answer.result;
            const QString name = QFile::decodeName(QByteArray::fromStdString(path));
            const QString why = QString::fromStdString(result.error);
            bool written = false, changed = false;
            switch (result.status) {
            case RewriteStatus::Written:
                if (path == fileName_) {
                    haveStamp_ = answer.stamped;
                    stamp_ = answer.stamp;
                }
                written = true;
                break;
            case RewriteStatus::Changed:
                if (expected) {
                    changed = true;
                    break;
                }
                Report("Could not save " + name + ": another file took its name meanwhile.\nThat file is unchanged.");
                break;
            case RewriteStatus::ReadOnly:
                Report(name + " is read-only and was not saved.\nSave a copy under another name instead.");
                break;
            case RewriteStatus::NotAllowed:
                Report("You may not write " + name + " (" + why +
                       "); it was not saved.\nSave a copy under another name instead.");
                break;
            case RewriteStatus::NotRegular:
                Report(name + " is not a regular file and was not saved.");
                break;
            case RewriteStatus::Failed:
                Report("Could not save " + name + ": " + why + "\nThe file on disk is unchanged.");
                break;
            case RewriteStatus::Incomplete:
                Report("Could not save " + name + ": " + why + "\nThe file may be incomplete; the edited text is kept in " +
                       QFile::decodeName(QByteArray::fromStdString(result.keptCopy)) + ".");
                break;
            }
            if (!written && !changed)
                closeAfterSave_ = false; // the text stays on screen for the user to decide
            then(written, changed);
            CloseWhenSaved();
        });
    if (asked)
        SetSaving(true, path);
    else
        then(false, false); // not reached: one save at a time
}

void Teditorform::SetSaving(bool saving, const std::string& path)
{
    saving_ = saving;
    memo1->setReadOnly(saving);
    for (QAction* item : {QuitItem, SaveCopyItem, SaveCloseItem})
        item->setEnabled(!saving);
    if (saving)
        saveState_->setText("Saving " + QFile::decodeName(QByteArray::fromStdString(path)) + "…");
    saveState_->setVisible(saving);
}

// A close asked for during the save it waited for.
void Teditorform::CloseWhenSaved()
{
    if (!closeAfterSave_ || saving_ || !isVisible())
        return;
    closeAfterSave_ = false;
    close();
}

void Teditorform::SaveTo(const std::string& path, std::function<void(bool)> then)
{
    if (saving_)
        return;
    Write(path, nullptr, [then](bool written, bool) {
        if (then)
            then(written);
    });
}

void Teditorform::SaveFile(std::function<void(bool)> then)
{
    if (saving_)
        return;
    Write(fileName_, haveStamp_ ? &stamp_ : nullptr, [this, then](bool written, bool changed) {
        if (written || !changed) {
            then(written);
            return;
        }
        switch (AskChanged(QFile::decodeName(QByteArray::fromStdString(fileName_)) +
                           " was changed by another program after it was opened for editing.\n"
                           "Overwrite it with this text, save this text as a copy, or go on editing?")) {
        case Answer::Yes: Write(fileName_, nullptr, [then](bool again, bool) { then(again); }); return;
        case Answer::No: SaveCopy(); break;
        case Answer::Cancel: break;
        }
        then(false);
    });
}

void Teditorform::SaveAndClose()
{
    // Saved before closing, so that a failed save keeps the text on screen.
    SaveFile([this](bool written) {
        if (!written)
            return;
        saved_ = true;
        closingThroughMenu_ = true;
        done(QDialog::Accepted);
    });
}

void Teditorform::QuitWithoutSaving()
{
    closingThroughMenu_ = true;
    done(QDialog::Rejected);
}

void Teditorform::SaveCopy()
{
    QString name;
    if (copyNameChooser_)
        name = copyNameChooser_();
    else
        name = QFileDialog::getSaveFileName(this, "Save a copy", {}, "Text Files (*.txt)");
    if (!name.isEmpty())
        SaveTo(QFile::encodeName(name).toStdString());
}

bool Teditorform::eventFilter(QObject* watched, QEvent* event)
{
    // Shift+Enter would insert a line separator, saved as its own character
    // (or a question mark in 8-bit text): every new line the user makes is a
    // line end of the file's kind.
    if (watched == memo1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && (key->modifiers() & Qt::ShiftModifier)) {
            memo1->textCursor().insertBlock();
            memo1->ensureCursorVisible();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

Answer Teditorform::AskChanged(const QString& text)
{
    if (ask_)
        return ask_(text);
    QMessageBox box(QMessageBox::Warning, "Tarnel", text, QMessageBox::NoButton, this);
    box.setTextFormat(Qt::PlainText);
    QPushButton* overwrite = box.addButton("&Overwrite", QMessageBox::DestructiveRole);
    QPushButton* copy = box.addButton("Save a &copy..", QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.exec();
    return box.clickedButton() == overwrite ? Answer::Yes : box.clickedButton() == copy ? Answer::No : Answer::Cancel;
}

Answer Teditorform::Ask(const QString& text)
{
    if (ask_)
        return ask_(text);
    const int button =
        ShowPlainMessage(this, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    return button == QMessageBox::Yes ? Answer::Yes : button == QMessageBox::No ? Answer::No : Answer::Cancel;
}

void Teditorform::reject()
{
    // Esc and the title bar's close go through the same question.
    close();
}

void Teditorform::closeEvent(QCloseEvent* event)
{
    if (closingThroughMenu_) {
        event->accept();
        return;
    }
    if (saving_) {
        // The window goes once the file is written; a folder that does not
        // answer may be left behind, at the price of the text if the save fails.
        event->ignore();
        if (!closeAfterSave_) {
            closeAfterSave_ = true;
            saveState_->setText(saveState_->text() + " The editor closes once the file is written.");
            return;
        }
        if (Ask("The file's folder has not answered yet. Close the editor without waiting?\n"
                "If the save then fails, this text is lost.") == Answer::Yes) {
            closingThroughMenu_ = true;
            done(QDialog::Rejected);
        }
        return;
    }
    if (!memo1->document()->isModified()) {
        event->accept();
        done(QDialog::Rejected);
        return;
    }
    switch (Ask("Save changes to " + QFile::decodeName(QByteArray::fromStdString(fileName_)) + " ?")) {
    case Answer::Yes:
        event->ignore(); // closed once the save has answered
        SaveFile([this](bool written) {
            if (!written)
                return;
            saved_ = true;
            closingThroughMenu_ = true;
            done(QDialog::Accepted);
        });
        return;
    case Answer::No:
        closingThroughMenu_ = true;
        event->accept();
        done(QDialog::Rejected);
        return;
    case Answer::Cancel:
        event->ignore();
        return;
    }
}

} // namespace tarnel
