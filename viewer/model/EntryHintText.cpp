#include "viewer/model/EntryHintText.h"

#include "panes/FileData.h"
#include "viewer/model/ViewerDispatch.h"

#include <cmath>
#include <cstdio>

namespace tarnel {

namespace {

std::string Grouped(int64_t value, const DisplayLocale& locale) { return FormatGrouped(double(value), 0, locale); }

std::string Kilobytes(int64_t bytes, const DisplayLocale& locale)
{
    return FormatGrouped(double(bytes) / 1024.0, 0, locale) + " KB";
}

void AddLine(std::string& text, const std::string& line)
{
    if (!text.empty())
        text += "\n";
    text += line;
}

std::string FlagsLine(const TFileData& e, bool supported)
{
    std::string flags;
    auto add = [&flags](const char* flag) { flags += (flags.empty() ? "" : ",") + std::string(flag); };
    if (e.Kind == fkFile && supported)
        add("Supported");
    if (e.Attr & 2)
        add("Hidden");
    if (e.Attr & 1)
        add("Readonly");
    return flags;
}

void AddDirectoryLines(std::string& text, const TFileData& e, const DisplayLocale& locale)
{
    AddLine(text, TimeText(e.Time, locale));
    const int64_t size = e.Size.load();
    if (size == -1) {
        AddLine(text, "Total size : <unknown>");
        return;
    }
    AddLine(text, "Total size : " + Grouped(size, locale) + " bytes");
    AddLine(text, "Bytes used : " + Grouped(e.UsedBytes.load(), locale));
    char counts[64];
    std::snprintf(counts, sizeof counts, "%d dirs and %d files", int(e.SubDirs.load()), int(e.SubFiles.load()));
    AddLine(text, counts);
}

} // namespace

bool DriveQualifiesForHint(DriveType type, bool shownInAPane)
{
    return type != DriveType::Removable || shownInAPane;
}

std::string DriveHintText(const DriveSpace& space, const DisplayLocale& locale)
{
    if (!space.answered)
        return "Size : ?\nUsed : ?\nFree : ?";
    const int64_t used = space.totalBytes - space.freeBytes;
    return "Size : " + Kilobytes(space.totalBytes, locale) + "\nUsed : " + Kilobytes(used, locale) +
           "\nFree : " + Kilobytes(space.freeBytes, locale);
}

std::string ListHintText(const ListHintInput& input, const DisplayLocale& locale)
{
    if (!input.entry)
        return {};
    const TFileData& e = *input.entry;
    std::string text = e.Name;
    if (e.Kind == fkDirectory) {
        AddDirectoryLines(text, e, locale);
    } else if (e.Kind == fkDrive) {
        if (input.driveQualifies)
            AddLine(text, DriveHintText(input.drive, locale));
    } else {
        AddLine(text, TimeText(e.Time, locale));
        AddLine(text, "Size : " + Grouped(e.Size.load(), locale) + " bytes");
    }
    const std::string flags = FlagsLine(e, input.supported);
    if (!flags.empty())
        AddLine(text, flags);
    // The summary brings its own line breaks, one per field.
    if (input.id3Summary && UpperExtension(e.Name) == ".MP3")
        text += input.id3Summary(input.folder + e.Name);
    if (!e.Description.empty())
        AddLine(text, e.Description);
    return text;
}

} // namespace tarnel
