#pragma once
// The Attributes command: one dialog for the read-only, archive, hidden and
// system attributes of the active pane's selection, applied to every entry;
// in a place whose entries have permission bits instead (a remote one), one
// for those bits. A box whose entries disagree starts grayed and, left
// grayed, touches nothing.
#include <QDialog>

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

class QCheckBox;

namespace tarnel {

class PaneControls;
class UserMessages;
struct TDirData;

inline constexpr const char* kAttributesInArchiveText = "Attributes are not (yet) supported for compressed files.";
inline constexpr const char* kAttributesParentText = "Attributes are supported only for files and true directories.";
// Each followed by a line break and the entry's name.
inline constexpr const char* kAttributesReadFailedText = "An error occurred retrieving attributes for";
inline constexpr const char* kAttributesWriteFailedText = "An error occurred setting attributes for";

class AttributesDialog : public QDialog {
    Q_OBJECT
public:
    enum class Kind {
        Attributes,  // read only, archive, hidden, system
        Permissions, // read, write and execute for owner, group and others; set-id and sticky
    };
    explicit AttributesDialog(QWidget* parent = nullptr, Kind kind = Kind::Attributes);

    // The box of one bit: faReadOnly, faArchive, faHidden or faSysFile, or
    // a permission bit (0400 ... 01, 04000, 02000, 01000); null when the
    // dialog has none for it.
    QCheckBox* Box(uint32_t bit) const;
    // Starts a box checked, unchecked or grayed (Qt::PartiallyChecked). The
    // user cannot gray a box: one that starts grayed leaves that state for good.
    void SetStartState(uint32_t bit, Qt::CheckState state);

private:
    QCheckBox* AddBox(const char* name, const QString& caption, uint32_t bit);
    std::vector<std::pair<uint32_t, QCheckBox*>> boxes_;
};

// Runs the command on a pane: refuses archives and "..", shows the dialog
// (run replaces exec() for tests), writes each selected directory and file
// against its current attributes and repaints the list. The pane is not read
// again: the entries keep their places and take their new attribute words.
// In a remote place the permission bits are read and set on workers: the
// dialog comes once they are read, and the command returns at once.
void RunAttributesCommand(TDirData& pane, PaneControls& controls, UserMessages& messages, QWidget* parent,
                          std::function<int(AttributesDialog&)> run = {});

} // namespace tarnel
