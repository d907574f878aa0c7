// The text view's edit command: the view lets go of the file while the
// editor may overwrite it, and opens it again after.
#include "viewer/EditorForm.h"
#include "viewer/TextView.h"

#include "app/UserMessages.h"
#include "platform/FileRewrite.h"
#include "viewer/model/EditedText.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>

namespace tarnel {

namespace {

constexpr const char* kFilterQuestion =
    "File you are trying to edit contains some non standard ASCII characters\r"
    "It could be impossible to modify but if it is,\r"
    "note that overwriting it with the modified version could result in loss of these informations..\r"
    "Wish to filter before editing?";

} // namespace

bool TTextView::EditFile()
{
    if (mode_ == VM_HEX) {
        if (messages_)
            messages_->Information("Edit mode is yet supported in HEX mode");
        else
            ShowPlainMessage(this, QMessageBox::Information, "Edit mode is yet supported in HEX mode");
        return false;
    }
    if (editor_ || !active_)
        return false;
    if (file_.Remote()) {
        Warn("A remote file is not edited here: open it (Enter) to work on a copy, then write the copy back.");
        return false;
    }
    // Names, not the open file: the file as it is now is what gets edited
    // and saved back (it may have grown or been replaced since it was shown).
    const std::string path = filename_;
    const int generation = generation_;
    // Read on a worker; events run meanwhile, so the view may be gone or
    // show another file by the time the text comes.
    QPointer<TTextView> reader(this);
    std::optional<EditingRead> got = ReadForEditing(this, path, Teditorform::kMaxEditBytes);
    if (!got || !reader || generation_ != generation || filename_ != path || !active_ || editor_)
        return false;
    std::string raw = std::move(got->raw);
    const int64_t size = got->size;
    const FileStamp before = got->stamp;
    switch (got->read) {
    case WholeRead::Read:
        if (got->stamped)
            break;
        [[fallthrough]];
    case WholeRead::Failed:
        Warn("The file could not be read whole (it changed while it was read): " +
             QFile::decodeName(QByteArray::fromStdString(path)));
        return false;
    case WholeRead::Missing:
        Warn("The file can no longer be opened: " + QFile::decodeName(QByteArray::fromStdString(path)));
        return false;
    case WholeRead::TooLarge:
        Warn("The file is too large for the editor (" + QString::number(size >> 20) + " MB; it holds at most " +
             QString::number(Teditorform::kMaxEditBytes >> 20) + " MB).");
        return false;
    }
    EditedText text(raw);
    raw.clear();
    if (!text.PureText()) {
        QPointer<TTextView> alive(this);
        const Answer answer = Ask(kFilterQuestion);
        // The question let events run: the view may be gone or show another file.
        if (answer == Answer::Cancel || !alive || generation_ != generation || filename_ != path || !active_)
            return false;
        if (answer == Answer::Yes)
            text.Filter(tab_);
    }

    CloseFile();
    paintBox_->update();
    const int closedGeneration = generation_;

    auto* editor = new Teditorform(nullptr);
    editor_ = editor;
    editor->setWindowModality(Qt::ApplicationModal);
    editor->SetMessages(messages_);
    editor->SetAsk(ask_);
    editor->SetCopyNameChooser(copyNameChooser_);
    editor->Load(path, std::move(text), &before);
    QPalette palette = editor->memo1->palette();
    palette.setColor(QPalette::Base, backColor_);
    palette.setColor(QPalette::Text, textColor_);
    editor->memo1->setPalette(palette);
    editor->memo1->setFont(font_);
    editor->memo1->setFocus();

    QPointer<TTextView> self(this);
    QPointer<QWidget> top(window());
    const Qt::WindowStates state = top ? top->windowState() : Qt::WindowNoState;
    if (top && top != this)
        top->showMinimized();
    QPointer<Teditorform> guard(editor);
    editor->exec();
    // Closing the page meanwhile may have taken the editor with it.
    const bool saved = guard && guard->Saved();
    delete guard;
    if (top && top != this)
        top->setWindowState(state);
    if (!self)
        return saved;
    // The view may have been given another file meanwhile.
    if (generation_ == closedGeneration && filename_ == path) {
        SetActive(true);
        Relayout();
    }
    paintBox_->update();
    return saved;
}

} // namespace tarnel
