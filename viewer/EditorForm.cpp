#include "viewer/EditorForm.h"

#include "app/UserMessages.h"
#include "viewer/SearchWindow.h"
#include "viewer/model/TextFile.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QFile>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QVBoxLayout>

namespace tarnel {

std::string FirstLineEnd(const std::string& bytes)
{
    const size_t at = bytes.find_first_of("\r\n");
    if (at == std::string::npos)
        return "\n";
    if (at + 1 < bytes.size() && (bytes[at + 1] == '\r' || bytes[at + 1] == '\n') && bytes[at + 1] != bytes[at])
        return bytes.substr(at, 2);
    return bytes.substr(at, 1);
}

Teditorform::Teditorform(QWidget* parent) : QDialog(parent)
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
    resize(720, 520);
}

void Teditorform::Load(const std::string& fileName, const QString& text, bool utf8, const std::string& lineEnd)
{
    fileName_ = fileName;
    utf8_ = utf8;
    lineEnd_ = lineEnd;
    setWindowTitle(QFile::decodeName(QByteArray::fromStdString(fileName)));
    memo1->setPlainText(text);
    memo1->document()->setModified(false);
}

std::string Teditorform::Bytes(bool* lossless) const
{
    // The raw text: the plain-text form would turn no-break spaces into
    // blanks and line separators into line ends behind the user's back.
    QString text = memo1->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QChar('\n'));
    const QStringList lines = text.split('\n');
    std::string out;
    bool all = true;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            out += lineEnd_;
        if (utf8_) {
            out += lines[i].toStdString();
        } else {
            std::string bytes;
            all = DisplayBytes(lines[i], bytes) && all; // characters 8-bit text cannot hold become '?'
            out += bytes;
        }
    }
    if (lossless)
        *lossless = all;
    return out;
}

bool Teditorform::SaveTo(const std::string& path)
{
    bool lossless = true;
    const std::string bytes = Bytes(&lossless);
    if (!lossless && Ask("Some characters cannot be written in this file's 8-bit text and would be saved as \"?\".\n"
                         "Save anyway?") != Answer::Yes)
        return false;
    const std::string problem = SaveFileAtomically(path, bytes);
    if (problem.empty())
        return true;
    const QString text = "Could not save " + QFile::decodeName(QByteArray::fromStdString(path)) + ": " +
                         QString::fromStdString(problem) + "\nThe file on disk is unchanged.";
    if (messages_)
        messages_->Error(text);
    else
        ShowPlainMessage(this, QMessageBox::Critical, text);
    return false;
}

void Teditorform::SaveAndClose()
{
    // Saved before closing, so that a failed save keeps the text on screen.
    if (!SaveTo(fileName_))
        return;
    saved_ = true;
    closingThroughMenu_ = true;
    done(QDialog::Accepted);
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
    if (!memo1->document()->isModified()) {
        event->accept();
        done(QDialog::Rejected);
        return;
    }
    switch (Ask("Save changes to " + QFile::decodeName(QByteArray::fromStdString(fileName_)) + " ?")) {
    case Answer::Yes:
        if (!SaveTo(fileName_)) {
            event->ignore();
            return;
        }
        saved_ = true;
        closingThroughMenu_ = true;
        event->accept();
        done(QDialog::Accepted);
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
