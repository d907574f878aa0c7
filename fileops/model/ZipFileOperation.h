#pragma once
// Copy, move and delete when one of the panes shows an archive: members are
// extracted into the other pane's folder, files added to the other pane's
// archive, members deleted, all through the one archive driver.
#include "panes/Place.h"
#include "platform/ShellFileOperation.h"

#include <cstdint>

#include <string>
#include <vector>

namespace tarnel {

struct TDirData;
class TZipMaster;

inline constexpr const char* kBetweenZipsText = "File operations are not (yet) supported between ZIP files...";
inline constexpr const char* kDeleteFromZipText = "Do you really want to DELETE the files from the source ZIP?";
inline constexpr const char* kRenameInZipText = "Renaming is not (yet) supported for ZIP files...";
inline constexpr const char* kNotCopiedText = "Some members were not extracted:";
inline constexpr const char* kNotDeletedText = "The members were not deleted:";
inline constexpr const char* kNotAddedText = "Some files were not added:";
inline constexpr const char* kNotMovedText = "Some files could not be extracted; they stay in the ZIP file.";

// What the archive branch asks of the window.
class ZipOperationUi {
public:
    virtual ~ZipOperationUi() = default;
    virtual void Inform(const std::string& text) = 0;  // a plain message box
    virtual void Error(const std::string& text) = 0;   // the error box
    virtual bool Confirm(const std::string& text) = 0; // Yes / No
    // A file of the same name is at the target: the disk copy's question,
    // with both files' sizes and times (seconds since the epoch).
    struct FileFacts {
        int64_t size = 0;
        int64_t time = 0;
    };
    virtual ReplaceAnswer AskReplace(const std::string& path, const FileFacts& existing, const FileFacts& incoming) = 0;
};

// A side of an operation is the pane's place, copied (a question's event
// loop may replace the listing), with its Path ending in "/".
using ZipSide = PanePlace;
ZipSide SideOf(const TDirData& pane);

// True when the operation goes to the archive branch rather than to the disk.
bool IsZipOperation(int code, const ZipSide& source, const ZipSide& target);

// One selected row: a folder stands for everything below it; a member of
// an archive is named by its central directory index, which the row carries.
struct ZipRow {
    std::string name;
    bool folder = false;
    int64_t index = -1;
};

// The selected rows of the pane, ".." and drives left out.
std::vector<ZipRow> ZipRowsOf(const TDirData& pane, const std::vector<int>& rows);

struct ZipOperationResult {
    bool sourceChanged = false;
    bool targetChanged = false;
};

// Runs the archive branch with the source pane's selected rows.
// fastZipMove: a move deletes the members without asking.
ZipOperationResult RunZipOperation(int code, const ZipSide& source, const ZipSide& target,
                                   const std::vector<ZipRow>& rows, bool fastZipMove, TZipMaster& zip,
                                   ZipOperationUi& ui);

} // namespace tarnel
