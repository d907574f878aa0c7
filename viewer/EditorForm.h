#pragma once
// The editor window of the text view: the whole file in a plain text box,
// saved back through a temporary file renamed over the old one.
#include "viewer/TextView.h"

#include <QDialog>

#include <functional>
#include <string>

class QAction;
class QPlainTextEdit;

namespace tarnel {

class UserMessages;

class Teditorform : public QDialog {
    Q_OBJECT
public:
    // Larger files are refused: the text box would hold several times their
    // size and take minutes to fill.
    static constexpr int64_t kMaxEditBytes = int64_t(32) << 20;

    explicit Teditorform(QWidget* parent = nullptr);

    // The text as loaded; utf8 says how it goes back to bytes, lineEnd what
    // joins its lines.
    void Load(const std::string& fileName, const QString& text, bool utf8, const std::string& lineEnd);
    const std::string& FileName() const { return fileName_; }
    // The bytes the text box holds, as they would be written.
    // lossless tells whether every character found a byte in 8-bit text.
    std::string Bytes(bool* lossless = nullptr) const;
    // Writes the text to path; false after telling the user why.
    bool SaveTo(const std::string& path);
    bool Saved() const { return saved_; }

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

    std::string fileName_;
    std::string lineEnd_ = "\n";
    bool utf8_ = true;
    bool closingThroughMenu_ = false;
    bool saved_ = false;
    UserMessages* messages_ = nullptr;
    AskFunction ask_;
    std::function<QString()> copyNameChooser_;
};

// The line end a file uses first (CR LF, LF CR, LF or CR); LF when it has none.
std::string FirstLineEnd(const std::string& bytes);

} // namespace tarnel
