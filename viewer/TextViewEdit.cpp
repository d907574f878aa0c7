// The text view's edit command: the view lets go of the file while the
// editor may overwrite it, and opens it again after.
#include "viewer/EditorForm.h"
#include "viewer/TextView.h"

#include "app/UserMessages.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStringDecoder>

namespace tarnel {

namespace {

constexpr const char* kFilterQuestion =
    "File you are trying to edit contains some non standard ASCII characters\r"
    "It could be impossible to modify but if it is,\r"
    "note that overwriting it with the modified version could result in loss of these informations..\r"
    "Wish to filter before editing?";

bool IsUtf8(const std::string& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    // decode() is lazy: the text must be made for the error to be seen.
    const QString text = decoder.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    return !decoder.hasError();
}

// One line feed for every line end, as the text box keeps them.
std::string UnifyLineEnds(const std::string& bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            out += '\n';
            if (i + 1 < bytes.size() && (bytes[i + 1] == '\r' || bytes[i + 1] == '\n') && bytes[i + 1] != c)
                ++i;
        } else {
            out += c;
        }
    }
    return out;
}

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
    // Names, not the open file: the file as it is now is what gets edited
    // and saved back (it may have grown or been replaced since it was shown).
    const std::string path = filename_;
    const int generation = generation_;
    std::string raw;
    int64_t size = 0;
    switch (ReadFileForEditing(path, Teditorform::kMaxEditBytes, raw, size)) {
    case WholeRead::Read:
        break;
    case WholeRead::Missing:
        Warn("The file can no longer be opened: " + QFile::decodeName(QByteArray::fromStdString(path)));
        return false;
    case WholeRead::TooLarge:
        Warn("The file is too large for the editor (" + QString::number(size >> 20) + " MB; it holds at most " +
             QString::number(Teditorform::kMaxEditBytes >> 20) + " MB).");
        return false;
    case WholeRead::Failed:
        Warn("The file could not be read whole (it changed while it was read): " +
             QFile::decodeName(QByteArray::fromStdString(path)));
        return false;
    }
    bool pure = true;
    std::string filtered = FilteredText(raw, tab_, pure);
    bool utf8 = IsUtf8(raw);
    if (!pure) {
        QPointer<TTextView> alive(this);
        const Answer answer = Ask(kFilterQuestion);
        // The question let events run: the view may be gone or show another file.
        if (answer == Answer::Cancel || !alive || generation_ != generation || filename_ != path || !active_)
            return false;
        if (answer == Answer::Yes) {
            raw = std::move(filtered);
            utf8 = IsUtf8(raw);
        }
    }
    const std::string lineEnd = FirstLineEnd(raw);
    const std::string unified = UnifyLineEnds(raw);
    const QString text = utf8 ? QString::fromStdString(unified) : DisplayText(unified);

    CloseFile();
    paintBox_->update();
    const int closedGeneration = generation_;

    auto* editor = new Teditorform(nullptr);
    editor_ = editor;
    editor->setWindowModality(Qt::ApplicationModal);
    editor->SetMessages(messages_);
    editor->SetAsk(ask_);
    editor->SetCopyNameChooser(copyNameChooser_);
    editor->Load(path, text, utf8, lineEnd);
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
