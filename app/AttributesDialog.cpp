#include "app/AttributesDialog.h"

#include "app/MainWindowSftpCommands.h"
#include "app/UserMessages.h"
#include "app/WorkerAnswers.h"
#include "panes/DirData.h"
#include "panes/PaneControls.h"
#include "panes/PathUtil.h"
#include "platform/DirectoryReader.h"
#include "platform/FileAttributes.h"
#include "sources/SftpSource.h"

#include "widgets/DialogButtons.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QFile>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>
#include <string>
#include <tuple>
#include <vector>

namespace tarnel {

namespace {

// The order in which the boxes' states become changes.
constexpr std::array<uint32_t, 4> kApplyOrder{faArchive, faSysFile, faReadOnly, faHidden};

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

// In the order a permission dialog shows them.
constexpr std::array<uint32_t, 12> kPermissionBits{0400, 0200, 0100, 040, 020, 010, 04, 02, 01, 04000, 02000, 01000};

struct Survey {
    bool parentSelected = false;
    bool counted = false;
    uint32_t common = 0; // the first counted entry's word
    uint32_t mixed = 0;  // bits on which later entries differ from it

    void Count(uint32_t word, uint32_t bits)
    {
        if (!counted) {
            common = word;
            counted = true;
        } else {
            mixed |= (word ^ common) & bits;
        }
    }
};

Survey Examine(const TDirData& pane, const std::vector<int>& rows)
{
    Survey survey;
    for (int row : rows) {
        const TFileData& e = pane.Item(row);
        if (e.IsParentEntry())
            survey.parentSelected = true;
        else if (e.Kind == fkDirectory || e.Kind == fkFile)
            survey.Count(e.Attr, kSettableAttributes);
    }
    return survey;
}

template <size_t N>
void SetStartStates(AttributesDialog& dialog, const Survey& survey, const std::array<uint32_t, N>& bits)
{
    for (uint32_t bit : bits)
        dialog.SetStartState(bit, (survey.mixed & bit) ? Qt::PartiallyChecked
                                  : (survey.common & bit) ? Qt::Checked
                                                          : Qt::Unchecked);
}

// What OK asks for: each entry's new word is (word & keep) | set. A box
// left grayed changes nothing; keep is all ones when nothing changes.
template <size_t N>
std::pair<uint32_t, uint32_t> ChangesOf(const AttributesDialog& dialog, const Survey& survey,
                                        const std::array<uint32_t, N>& bits)
{
    uint32_t keep = ~0u;
    uint32_t set = 0;
    for (uint32_t bit : bits) {
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
    return {keep, set};
}

} // namespace

AttributesDialog::AttributesDialog(QWidget* parent, Kind kind)
    : QDialog(parent)
{
    setObjectName(kind == Kind::Attributes ? "DlgAttributes" : "DlgPermissions");
    setWindowTitle(kind == Kind::Attributes ? "Attributes" : "Permissions");
    auto* layout = new QVBoxLayout(this);
    if (kind == Kind::Attributes) {
        for (const auto& [name, caption, bit] : {std::tuple{"CBReadOnly", "Read only", faReadOnly},
                                                 std::tuple{"CBArchive", "Archive", faArchive},
                                                 std::tuple{"CBHidden", "Hidden", faHidden},
                                                 std::tuple{"CBSystem", "System", faSysFile}})
            layout->addWidget(AddBox(name, caption, uint32_t(bit)));
    } else {
        auto* grid = new QGridLayout;
        const char* columns[] = {"Read", "Write", "Execute"};
        const char* rows[] = {"Owner", "Group", "Others"};
        for (int c = 0; c < 3; ++c)
            grid->addWidget(new QLabel(columns[c], this), 0, c + 1);
        for (int r = 0; r < 3; ++r) {
            grid->addWidget(new QLabel(rows[r], this), r + 1, 0);
            for (int c = 0; c < 3; ++c) {
                const std::string name = std::string("CB") + rows[r] + columns[c];
                grid->addWidget(AddBox(name.c_str(), QString(), kPermissionBits[size_t(r * 3 + c)]), r + 1, c + 1);
            }
        }
        layout->addLayout(grid);
        auto* special = new QHBoxLayout;
        special->addWidget(AddBox("CBSetUid", "Set user ID", 04000));
        special->addWidget(AddBox("CBSetGid", "Set group ID", 02000));
        special->addWidget(AddBox("CBSticky", "Sticky", 01000));
        layout->addLayout(special);
    }
    AddOkCancelRow(*this, *layout);
}

QCheckBox* AttributesDialog::AddBox(const char* name, const QString& caption, uint32_t bit)
{
    auto* b = new QCheckBox(caption, this);
    b->setObjectName(name);
    // Leaving the grayed state is final: a user cannot choose "no change"
    // again once they have picked a value.
    connect(b, &QCheckBox::stateChanged, b, [b](int state) {
        if (state != Qt::PartiallyChecked)
            b->setTristate(false);
    });
    boxes_.emplace_back(bit, b);
    return b;
}

QCheckBox* AttributesDialog::Box(uint32_t bit) const
{
    for (const auto& [b, box] : boxes_)
        if (b == bit)
            return box;
    return nullptr;
}

void AttributesDialog::SetStartState(uint32_t bit, Qt::CheckState state)
{
    QCheckBox* b = Box(bit);
    if (!b)
        return;
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

// A remote selection's permission bits: read on a worker, the dialog once
// they have come, set on a worker. Names cross the waits, never rows.
static void RunPermissions(TDirData& pane, PaneControls& controls, UserMessages& messages, QWidget* parent,
                           std::function<int(AttributesDialog&)> run, const std::vector<int>& rows)
{
    const std::shared_ptr<const SftpSource> source = RemoteSourceOf(pane);
    if (!source) {
        messages.Information(kAttributesInArchiveText);
        return;
    }
    struct Bits {
        std::string dir, name;
        uint32_t bits = 0;
        std::string problem;
    };
    std::vector<Bits> files;
    for (int row : rows) {
        const TFileData& e = pane.Item(row);
        if (e.Kind == fkDirectory || e.Kind == fkFile)
            files.push_back({AddPathDelimiter(pane.DirOf(e)), e.Name, 0, {}});
    }
    // Keep nothing, set nothing: each entry's bits as they are now.
    auto change = [source](std::vector<Bits> files, uint32_t keep, uint32_t set) {
        for (Bits& f : files)
            if (const RemoteError error = source->ChangePermissions(f.dir + f.name, keep, set, f.bits))
                f.problem = error.text;
        return files;
    };
    auto* answers = new WorkerAnswers(1, parent);
    const std::string place = pane.Key();
    auto warn = [&messages](const char* what, const Bits& f) {
        messages.Warning(QString(what) + '\n' + Decode(f.name) + "\n\n" + Decode(f.problem));
    };
    answers->Ask<std::vector<Bits>>(
        [change, files] { return change(files, ~0u, 0); },
        [=, &pane, &controls, run = std::move(run)](const std::vector<Bits>& read) {
            Survey survey;
            std::vector<Bits> found;
            for (const Bits& f : read) {
                if (!f.problem.empty()) {
                    warn(kAttributesReadFailedText, f);
                    continue;
                }
                survey.Count(f.bits, 07777);
                found.push_back(f);
            }
            AttributesDialog dialog(parent, AttributesDialog::Kind::Permissions);
            SetStartStates(dialog, survey, kPermissionBits);
            if (found.empty() || (run ? run(dialog) : dialog.exec()) != QDialog::Accepted) {
                answers->deleteLater();
                return;
            }
            const auto [keep, set] = ChangesOf(dialog, survey, kPermissionBits);
            if (keep == ~0u) {
                answers->deleteLater();
                return;
            }
            answers->Ask<std::vector<Bits>>(
                [change, found, keep, set] { return change(found, keep, set); },
                [=, &pane, &controls](const std::vector<Bits>& written) {
                    for (const Bits& f : written) {
                        if (!f.problem.empty())
                            warn(kAttributesWriteFailedText, f);
                        else if (TFileData* e = ListedEntry(pane, place, f.dir, f.name))
                            e->Attr = (e->Attr & ~uint32_t(faReadOnly)) | ((f.bits & 0200) ? 0u : uint32_t(faReadOnly));
                    }
                    controls.BeginUpdate();
                    controls.EndUpdate();
                    answers->deleteLater();
                });
        });
}

void RunAttributesCommand(TDirData& pane, PaneControls& controls, UserMessages& messages, QWidget* parent,
                          std::function<int(AttributesDialog&)> run)
{
    const bool permissions = !pane.Can(Capability::DiskPaths) && pane.Can(Capability::Permissions);
    if (!pane.Can(Capability::DiskPaths) && !permissions) {
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
    if (permissions) {
        RunPermissions(pane, controls, messages, parent, std::move(run), rows);
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
    SetStartStates(dialog, survey, kApplyOrder);
    if ((run ? run(dialog) : dialog.exec()) != QDialog::Accepted)
        return;
    const auto [keep, set] = ChangesOf(dialog, survey, kApplyOrder);
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
