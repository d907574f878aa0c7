#pragma once
// The files of a pane that a tool works on.
#include <string>
#include <vector>

namespace tarnel {

struct TDirData;

// The names of the pane's plain files (no directories, parent entry or
// drives), in pane order; only the selected ones when any entry is selected.
std::vector<std::string> SelectedOrAllFiles(const TDirData& pane);
// The same files by folder and name, each in its own folder (found files lie in many).
std::vector<std::string> SelectedOrAllFilePaths(const TDirData& pane);
// The folders those files lie in, each once, ending in "/": the pane's own,
// or several for found files.
std::vector<std::string> FoldersOfSelectedOrAllFiles(const TDirData& pane);

// True when the name's extension (from its last ".") is ".mp3" in any case.
bool HasMp3Extension(const std::string& name);

} // namespace tarnel
