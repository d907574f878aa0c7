#include "app/AttributesDialog.h"

#include "app/UserMessages.h"
#include "panes/DirData.h"
#include "panes/PaneControls.h"
#include "panes/PathUtil.h"
#include "platform/DirectoryReader.h"
#include "platform/FileAttributes.h"

#include "widgets/DialogButtons.h"

#include <QCheckBox>
#include <QFile>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>
#include <string>
#include <vector>

namespace tarnel {

namespace {

// The order in which the boxes' states become changes.
constexpr std::array<uint32_t, 4> kApplyOrder{faArchive, faSysFile, faReadOnly, faHidden};

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

struct Survey {
    bool parentSelected = false;
    bool counted = false;
    uint32_t common = 0; // the first counted entry's word
    uint32_t mixed = 0;  // bits on which later entries differ from it
};

Survey Examine(const TDirData& pane, const std::vector<int>& rows)
{
    Survey survey;
    for (int row : rows) {
        const TFileData& e = pane.Item(row);
        if (e.IsParentEntry()) {
            survey.parentSelected = true;
        } else if (e.Kind == fkDirectory || e.Kind == fkFile) {
            if (!survey.counted) {
                survey.common = e.Attr;
                survey.counted = true;
            } else {
                survey.mixed |= (e.Attr ^ survey.common) & kSettableAttributes;
            }
        }
    }
    return survey;
}

} // namespace

AttributesDialog::AttributesDialog(QWidget* parent)
    : QDialog(parent)
{
    setObjectName("DlgAttributes");
    setWindowTitle("Attributes");
    auto* layout = new QVBoxLayout(this);
    auto box = [&](const char* name, const char* caption) {
        auto* b = new QCheckBox(caption, this);
        b->setObjectName(name);
        // Leaving the grayed state is final: a user cannot choose "no change"
        // again once they have picked a value.
        connect(b, &QCheckBox::stateChanged, b, [b](int state) {
            if (state != Qt::PartiallyChecked)
                b->setTristate(false);
        });
        layout->addWidget(b);
        return b;
    };
    readOnly_ = box("CBReadOnly", "Read only");
    archive_ = box("CBArchive", "Archive");
    hidden_ = box("CBHidden", "Hidden");
    system_ = box("CBSystem", "System");

    AddOkCancelRow(*this, *layout);
}

QCheckBox* AttributesDialog::Box(uint32_t bit) const
{
    switch (bit) {
    case faReadOnly: return readOnly_;
    case faArchive: return archive_;
    case faHidden: return hidden_;
    case faSysFile: return system_;
    default: return nullptr;
    }
}

void AttributesDialog::SetStartState(uint32_t bit, Qt::CheckState state)
{
    QCheckBox* b = Box(bit);
    b->setTristate(state == Qt::PartiallyChecked);
    b->setCheckState(state);
}

// The entry of that folder and name in the listing, when it still shows
// the place it was chosen in.
static TFileData* ListedEntry(TDirData& pane, const std::string& place, const std::string& dir,
                              const std::string& name)
{
    if (pane.Key() != place)
        return nullptr;
    for (int i = 0; i < pane.Count; ++i)
        if (pane.Item(i).Name == name && AddPathDelimiter(pane.DirOf(pane.Item(i))) == dir)
            return &pane.Item(i);
    return nullptr;
}

void RunAttributesCommand(TDirData& pane, PaneControls& controls, UserMessages& messages, QWidget* parent,
                          std::function<int(AttributesDialog&)> run)
{
    if (!pane.Can(Capability::DiskPaths)) {
        messages.Information(kAttributesInArchiveText);
        return;
    }
    const std::vector<int> rows = controls.SelectedRows();
    if (rows.empty())
        return;
    const Survey survey = Examine(pane, rows);
    if (survey.parentSelected) {
        messages.Information(kAttributesParentText);
        return;
    }

    // Names and their folders (found files lie in many), not rows: the pane
    // may be read again while the dialog is open, and its rows then hold
    // other entries.
    const std::string place = pane.Key();
    std::vector<std::pair<std::string, std::string>> files;
    for (int row : rows) {
        const TFileData& e = pane.Item(row);
        if (e.Kind == fkDirectory || e.Kind == fkFile)
            files.emplace_back(AddPathDelimiter(pane.DirOf(e)), e.Name);
    }

    AttributesDialog dialog(parent);
    for (uint32_t bit : kApplyOrder)
        dialog.SetStartState(bit, (survey.mixed & bit) ? Qt::PartiallyChecked
                                  : (survey.common & bit) ? Qt::Checked
                                                          : Qt::Unchecked);
    if ((run ? run(dialog) : dialog.exec()) != QDialog::Accepted)
        return;

    uint32_t keep = ~0u;
    uint32_t set = 0;
    for (uint32_t bit : kApplyOrder) {
        const Qt::CheckState state = dialog.Box(bit)->checkState();
        if (state == Qt::PartiallyChecked)
            continue;
        const bool checked = state == Qt::Checked;
        if (checked != bool(survey.common & bit) || (survey.mixed & bit)) {
            keep &= ~bit;
            if (checked)
                set |= bit;
        }
    }
    if (keep == ~0u)
        return;

    for (const auto& [dir, name] : files) {
        // Taken against the file as it is now, not as listed, so bits the
        // boxes do not cover (and changes made meanwhile) survive.
        const std::string path = dir + name;
        uint32_t current = 0;
        if (!ReadFileAttributes(path, current)) {
            messages.Warning(QString(kAttributesReadFailedText) + '\n' + Decode(name));
            continue;
        }
        const uint32_t changed = (current & keep) | set;
        if (!WriteFileAttributes(path, changed)) {
            messages.Warning(QString(kAttributesWriteFailedText) + '\n' + Decode(name));
            continue;
        }
        if (TFileData* e = ListedEntry(pane, place, dir, name))
            e->Attr = changed;
    }
    // Ending an update repaints the list, so the attribute marks show the new words.
    controls.BeginUpdate();
    controls.EndUpdate();
}

} // namespace tarnel
