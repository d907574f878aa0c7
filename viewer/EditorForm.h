#pragma once
// The editor window of the text view: the whole file in a plain text box,
// written back into the same file, lines the user left alone as they were.
#include "platform/FileRewrite.h"
#include "viewer/TextView.h"
#include "viewer/model/EditedText.h"
#include "viewer/model/TextFile.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <string>

class QAction;
class QLabel;
class QPlainTextEdit;

namespace tarnel {

class UserMessages;
class WorkerAnswers;

// A file read whole for editing, as it is now.
struct EditingRead {
    WholeRead read = WholeRead::Failed;
    std::string raw;
    int64_t size = 0;
    FileStamp stamp;      // the file before the read
    bool stamped = false; // the same stamp after the read: the text belongs to it
};

// Reads path for editing on a worker while the window's events go on (its
// mount may not answer). Nothing when for is destroyed meanwhile, or is
// already waiting for a read: across the wait hold names, not rows.
std::optional<EditingRead> ReadForEditing(QObject* for_, const std::string& path, int64_t maxBytes);

class Teditorform : public QDialog {
    Q_OBJECT
public:
    // Larger files are refused: the text box would hold several times their
    // size and take minutes to fill.
    static constexpr int64_t kMaxEditBytes = int64_t(32) << 20;

    explicit Teditorform(QWidget* parent = nullptr);

    // The text as read; stamp is the file as it was read (null: not known).
    void Load(const std::string& fileName, EditedText text, const FileStamp* stamp);
    const std::string& FileName() const { return fileName_; }
    // The bytes the text box holds, as they would be written.
    // lossless tells whether every character found a byte in 8-bit text.
    std::string Bytes(bool* lossless = nullptr) const;
    // Writes the text to the edited file on a worker (the file may sit on a
    // mount that does not answer); then(true) once written, then(false)
    // after telling the user why, or when the user chose not to overwrite a
    // file changed meanwhile. Nothing starts while a save is under way.
    void SaveFile(std::function<void(bool written)> then);
    // Writes the text to another file the same way.
    void SaveTo(const std::string& path, std::function<void(bool written)> then = {});
    bool Saved() const { return saved_; }
    // A save is under way: the text is read-only, the menu's saving and
    // closing items are off, and the window says so.
    bool Saving() const { return saving_; }

    void SetMessages(UserMessages* messages) { messages_ = messages; }
    void SetAsk(AskFunction ask) { ask_ = std::move(ask); }
    void SetCopyNameChooser(std::function<QString()> chooser) { copyNameChooser_ = std::move(chooser); }

    QPlainTextEdit* memo1;
    QAction* QuitItem;
    QAction* SaveCopyItem;
    QAction* SaveCloseItem;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void reject() override;

private:
    void SaveAndClose();
    void QuitWithoutSaving();
    void SaveCopy();
    Answer Ask(const QString& text);
    // Overwrite (Yes), save a copy (No) or go on editing (Cancel).
    Answer AskChanged(const QString& text);
    // then(written, changed): changed when expected no longer matched.
    void Write(const std::string& path, const FileStamp* expected, std::function<void(bool, bool)> then);
    void SetSaving(bool saving, const std::string& path = {});
    void CloseWhenSaved();
    void Report(const QString& text);

    std::string fileName_;
    EditedText text_;
    FileStamp stamp_;
    bool haveStamp_ = false;
    bool closingThroughMenu_ = false;
    bool saved_ = false;
    bool saving_ = false;
    bool closeAfterSave_ = false; // closed during a save: closes once it is written
    QLabel* saveState_;
    WorkerAnswers* answers_;
    UserMessages* messages_ = nullptr;
    AskFunction ask_;
    std::function<QString()> copyNameChooser_;
};

} // namespace tarnel
