#pragma once
// The texts of the file-information hints over the pane lists and the drive
// buttons. Lines are separated by "\n".
#include "panes/RowText.h"
#include "platform/Volumes.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tarnel {

struct TFileData;

struct DriveSpace {
    int64_t totalBytes = 0;
    int64_t freeBytes = 0;
    bool answered = true; // false: the volume has not answered yet, figures show as "?"
};

// Fixed, network, CD-ROM and RAM volumes always show their space; a
// removable one only while a pane shows a place on it (nothing is woken up).
bool DriveQualifiesForHint(DriveType type, bool shownInAPane);

// "Size : S KB", "Used : U KB", "Free : F KB".
std::string DriveHintText(const DriveSpace& space, const DisplayLocale& locale);

struct ListHintInput {
    const TFileData* entry = nullptr;
    std::string folder;             // where the entry lies, ending with "/"
    bool driveQualifies = false;    // a drive row whose space may be shown
    DriveSpace drive;               // that drive's space
    bool supported = false;         // the viewer takes the file's extension
    // The ID3 summary of a full path; empty: none is read.
    std::function<std::string(const std::string&)> id3Summary;
};

// Name, date and size lines, flags, the MP3 tag summary and the description.
std::string ListHintText(const ListHintInput& input, const DisplayLocale& locale);

} // namespace tarnel
