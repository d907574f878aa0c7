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
    (void)decoder.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
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
            QMessageBox::information(this, "Tarnel", "Edit mode is yet supported in HEX mode");
        return false;
    }
    if (editor_ || !active_)
        return false;
    if (file_.Size() > Teditorform::kMaxEditBytes) {
        Warn("The file is too large for the editor (" + QString::number(file_.Size() >> 20) +
             " MB; it holds at most " + QString::number(Teditorform::kMaxEditBytes >> 20) + " MB).");
        return false;
    }
    FinishIndex(); // purity is known once every byte is seen

    std::string raw(size_t(file_.Size()), '\0');
    raw.resize(file_.ReadAt(0, raw.data(), raw.size()));
    QString text;
    bool utf8 = IsUtf8(raw);
    if (!PureAscii()) {
        const Answer answer = Ask(kFilterQuestion);
        if (answer == Answer::Cancel)
            return false;
        if (answer == Answer::Yes) {
            std::vector<std::string> lines;
            int64_t failed = 0;
            GetLines(1, LineCount(), false, lines, failed);
            std::string joined;
            for (size_t i = 0; i < lines.size(); ++i)
                joined += (i ? "\n" : "") + lines[i];
            utf8 = IsUtf8(joined);
            raw = joined;
        }
    }
    const std::string lineEnd = FirstLineEnd(raw);
    const std::string unified = UnifyLineEnds(raw);
    text = utf8 ? QString::fromStdString(unified) : DisplayText(unified);

    const std::string path = filename_;
    CloseFile();
    paintBox_->update();
    const int generation = generation_;

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
    if (generation_ == generation && filename_ == path) {
        SetActive(true);
        Relayout();
    }
    paintBox_->update();
    return saved;
}

} // namespace tarnel
