#include "app/DescriptionDialog.h"

#include "app/UserMessages.h"
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

void RunDescribeCommand(TDirData& pane, PaneControls& controls, UserMessages& messages, QWidget* parent,
                        std::function<int(DescriptionDialog&)> run, const DisplayLocale& locale)
{
    if (!pane.Can(Capability::DiskPaths)) {
        messages.Information(kDescribeInArchiveText);
        return;
    }
    {
        // The names, not the rows: the pane may be read again while a dialog
        // is open, and its rows then belong to other entries.
        const std::string dir = AddPathDelimiter(pane.Path);
        std::vector<std::string> names;
        for (int row : controls.SelectedRows()) {
            const TFileData& e = pane.Item(row);
            if (e.Kind == fkDirectory || e.Kind == fkFile)
                names.push_back(e.Name);
        }
        DescriptionDialog dialog(parent);
        for (const std::string& name : names) {
            const std::string path = dir + name;
            struct stat st;
            if (::lstat(path.c_str(), &st) != 0)
                continue; // gone meanwhile
            const std::string stored = ReadDescription(path);
            const QString shown = QString::fromUtf8(stored);
            dialog.SetText(shown);
            if (shown.isEmpty())
                dialog.PasteClip();
            dialog.Memo()->selectAll();
            dialog.Memo()->setFocus();
            if ((run ? run(dialog) : dialog.exec()) != QDialog::Accepted)
                continue;
            const QString text = dialog.Text();
            // Unchanged text keeps its bytes, even those that are not UTF-8.
            const std::string bytes = text == shown ? stored : text.toUtf8().toStdString();
            std::string keptCopy;
            switch (WriteDescription(path, bytes, &keptCopy)) {
            case WriteDescriptionResult::Incomplete:
                messages.Warning("The description file may be half written; its new contents are kept in " +
                                 QFile::decodeName(QByteArray::fromStdString(keptCopy)));
                break;
            case WriteDescriptionResult::RenameFailed:
                messages.Warning(kRenameDescriptionWarning);
                break;
            case WriteDescriptionResult::NameNotStorable:
                messages.Warning(kNameNotDescribableText + QFile::decodeName(QByteArray::fromStdString(name)));
                break;
            default:
                break;
            }
        }
    }
    pane.Positions.Store(pane.Key(), controls.TopRow(), controls.CurrentRow());
    RememberDirSizes(pane);
    RecordHistory(pane);
    ReadDirectory(pane, locale);
}

} // namespace tarnel
