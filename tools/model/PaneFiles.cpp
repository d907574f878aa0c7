#include "tools/model/PaneFiles.h"

#include "panes/DirData.h"
#include "panes/PaneControls.h"
#include "panes/PathUtil.h"

#include <algorithm>

namespace tarnel {

namespace {

template <typename Take>
void ForSelectedOrAllFiles(const TDirData& pane, Take take)
{
    const bool anySelected = pane.Controls && !pane.Controls->SelectedRows().empty();
    for (int i = 0; i < pane.Count; ++i) {
        const TFileData& e = pane.Item(i);
        if (e.Kind == fkFile && (!anySelected || pane.Controls->IsSelected(i)))
            take(e);
    }
}

} // namespace

std::vector<std::string> SelectedOrAllFiles(const TDirData& pane)
{
    std::vector<std::string> names;
    ForSelectedOrAllFiles(pane, [&](const TFileData& e) { names.push_back(e.Name); });
    return names;
}

std::vector<std::string> SelectedOrAllFilePaths(const TDirData& pane)
{
    std::vector<std::string> paths;
    ForSelectedOrAllFiles(pane, [&](const TFileData& e) { paths.push_back(AddPathDelimiter(pane.DirOf(e)) + e.Name); });
    return paths;
}

std::vector<std::string> FoldersOfSelectedOrAllFiles(const TDirData& pane)
{
    std::vector<std::string> folders;
    ForSelectedOrAllFiles(pane, [&](const TFileData& e) {
        std::string folder = AddPathDelimiter(pane.DirOf(e));
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(std::move(folder));
    });
    return folders;
}

bool HasMp3Extension(const std::string& name)
{
    const size_t dot = name.rfind('.');
    return dot != std::string::npos && EqualsIgnoreCase(std::string_view(name).substr(dot), ".MP3");
}

} // namespace tarnel
