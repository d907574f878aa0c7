#pragma once
// The Describe command: edits the one-line descriptions of the active pane's
// selection, entry by entry, in DESCRIPT.ION.
#include "descriptions/Descriptions.h"
#include "panes/RowText.h"

#include <QDialog>
#include <QPlainTextEdit>

#include <functional>
#include <string>

namespace tarnel {

class PaneControls;
class UserMessages;
struct TDirData;

inline constexpr const char* kDescribeInArchiveText = "I'm currently unable to set descriptions inside ZIP files. Sorry.";
inline constexpr const char* kNameNotDescribableText = "DESCRIPT.ION cannot hold a description for this name:\n";

// Every character below 32 (line breaks and tabs among them) as a blank.
QString BlankControlCharacters(QString text);

// The memo of the dialog. A description is one line in the file, so no way
// of editing may leave a line break in it: Enter goes to the dialog (its
// default button), and pasted, dropped or otherwise inserted control
// characters turn into blanks.
class DescriptionMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit DescriptionMemo(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    void BlankControls();
    bool blanking_ = false;
};

class DescriptionDialog : public QDialog {
    Q_OBJECT
public:
    explicit DescriptionDialog(QWidget* parent = nullptr);

    DescriptionMemo* Memo() const { return desc_; }
    QString Text() const;
    void SetText(const QString& text);
    // "Paste from clipboard": appends the clipboard's text with its control
    // characters blanked.
    void PasteClip();

private:
    DescriptionMemo* desc_;
};

// Where the command reads and writes descriptions, on workers: the files of
// the disk, or a source's own.
struct DescriptionStore {
    struct Found {
        bool exists = false; // the entry is still there
        std::string stored;
        std::string problem; // the place could not be asked: the run stops
    };
    struct Written {
        WriteDescriptionResult result = WriteDescriptionResult::Written;
        std::string keptCopy; // where a half-written file's new contents are
        std::string problem;  // why it was not stored (the old file is as it was)
    };
    std::function<Found(const std::string& path)> read; // empty: the place has no descriptions
    std::function<Written(const std::string& path, const std::string& text)> write;
};
DescriptionStore DiskDescriptionStore();

// Runs the command on a pane: refuses archives, shows the dialog for each
// selected directory and file in list order (run replaces exec() for tests),
// stores what OK confirms, then reads the pane again so the new descriptions
// show. locale is the one the pane is listed with. The description files are
// read and written on workers: the command returns at once, and finished is
// called once the last entry is done. The run belongs to parent (a new run
// for the same pane replaces one still waiting); the pane, controls and
// messages must outlive parent.
void RunDescribeCommand(TDirData& pane, PaneControls& controls, UserMessages& messages, QWidget* parent,
                        std::function<int(DescriptionDialog&)> run = {}, const DisplayLocale& locale = {},
                        std::function<void()> finished = {});

} // namespace tarnel
