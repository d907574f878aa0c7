#pragma once
// Ordering of a pane: blocks never mix, ".." stays first, drives stay last.
#include <string_view>

namespace tarnel {

struct TDirData;
struct TFileData;

enum SortKeyIndex { skName = 0, skSize = 1, skType = 2, skTime = 3, skDescription = 4 };

// -1, 0 or +1. The direction multiplier (+1 or -1) is applied to the result.
int CompareNames(const TFileData& a, const TFileData& b);
int CompareDirs(const TFileData& a, const TFileData& b, int key, int direction);
int CompareFiles(const TFileData& a, const TFileData& b, int key, int direction);

// Sorts the requested blocks with the pane's key and direction; no row stays selected.
void SortPane(TDirData& pane, bool sortDirs, bool sortFiles);

// The sort box changed (the window makes the pane active and repaints its header first).
void SortBoxChanged(TDirData& pane);

// A header section was clicked: picks the key from the caption, flips the
// direction when the key stays, moves the marker and sorts. Returns false for
// a caption that selects no key (nothing changes then).
bool HeaderSectionClicked(TDirData& pane, std::string_view caption);

// The key a header caption selects, or -1.
int SortKeyOfCaption(std::string_view caption);

} // namespace tarnel
