#include "tools/model/PaneFiles.h"

#include "panes/DirData.h"
#include "panes/PaneControls.h"
#include "panes/PathUtil.h"

#include <algorithm>

namespace tarnel {

std::vector<std::string> SelectedOrAllFiles(const TDirData& pane)
{
    const bool anySelected = pane.Controls && !pane.Controls->SelectedRows().empty();
    std::vector<std::string> names;
    for (int i = 0; i < pane.Count; ++i) {
        const TFileData& e = pane.Item(i);
        if (e.Kind == fkFile && (!anySelected || pane.Controls->IsSelected(i)))
            names.push_back(e.Name);
    }
    return names;
}

std::vector<std::string> FoldersOfSelectedOrAllFiles(const TDirData& pane)
{
    const bool anySelected = pane.Controls && !pane.Controls->SelectedRows().empty();
    std::vector<std::string> folders;
    for (int i = 0; i < pane.Count; ++i) {
        const TFileData& e = pane.Item(i);
        if (e.Kind != fkFile || (anySelected && !pane.Controls->IsSelected(i)))
            continue;
        std::string folder = AddPathDelimiter(pane.DirOf(e));
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(std::move(folder));
    }
    return folders;
}

bool HasMp3Extension(const std::string& name)
{
    const size_t dot = name.rfind('.');
    return dot != std::string::npos && EqualsIgnoreCase(std::string_view(name).substr(dot), ".MP3");
}

} // namespace tarnel
