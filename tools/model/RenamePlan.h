#pragma once
// The batch renamer's name logic: which files a pattern picks, the new name a
// template gives each of them, the clash check and the rename passes. Names
// are raw bytes; nothing here decodes them.
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace tarnel {

// The pattern with a "*" appended unless it already ends with one, so that a
// pattern like "*.txt" still picks "notes.txt" and its last star is empty.
std::string EffectivePattern(std::string_view pattern);

// The text the n-th star (1 to 9) of pattern takes in name; "" when the
// pattern has fewer stars. name is expected to match pattern.
std::string StarText(std::string_view pattern, std::string_view name, int n);

struct RenameTemplate {
    std::string pattern = "*";   // as typed; EffectivePattern is applied here
    std::string text = "[1]";    // the rename template
    int counterStart = 1;
    bool lowerCase = false;
    // Lower-cases an old name; the default changes ASCII letters only.
    std::function<std::string(std::string_view)> lower;
};

struct RenameLine {
    std::string oldName;
    std::string newName; // "" once renamed
};

// The new names of the matching files, in order. exists tells whether a file
// of a given name is in the directory (a counter skips such names).
std::vector<RenameLine> BuildRenameLines(const std::vector<std::string>& matching, const RenameTemplate& t,
                                         const std::function<bool(const std::string&)>& exists);

// The candidates whose name matches the effective pattern, in order.
std::vector<std::string> MatchingNames(const std::vector<std::string>& candidates, std::string_view pattern);

struct CheckResult {
    enum class Kind { None, Duplicate, Exists, Invalid };
    Kind kind = Kind::None;
    std::string name; // the clashing new name
    bool Ok() const { return kind == Kind::None; }
};

// The first clash, in line order: a later line with the same new name (ASCII
// case ignored), a new name taken by a file that is not renamed away, or a
// name that is not a plain name in this directory ("", ".", "..", a "/").
// progress(i) is called per line.
CheckResult CheckRenameLines(const std::vector<RenameLine>& lines,
                             const std::function<bool(const std::string&)>& exists,
                             const std::function<void(size_t)>& progress = {});

// True for a name that stays in its directory: not empty, ".", ".." and no "/"
// or zero byte.
bool IsPlainFileName(std::string_view name);

// Renames line by line, pass after pass while a pass renames something, so a
// chain (a to b, b to c) completes in any order. rename(old, new) must refuse
// an existing target. Renamed lines are blanked; returns how many remain.
size_t RunRenamePasses(std::vector<RenameLine>& lines,
                       const std::function<bool(const std::string&, const std::string&)>& rename,
                       const std::function<void(size_t)>& progress = {});

} // namespace tarnel
