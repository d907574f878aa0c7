#pragma once
// The display lines of an indexed text file: text modes with tabs expanded,
// or a hex dump of 16 bytes a line. Reads only the lines asked for.
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tarnel {

class LineIndex;
class TextFile;

// Where the display columns of long lines start in the file: a line clipped
// far from its start resumes from its mark instead of being read again from
// its beginning at every repaint. Good for one index: cleared when the index
// is built again (another file, mode or tab size).
class ColumnMarks {
public:
    struct Mark {
        int64_t lineBegin = -1; // the line's first byte
        int64_t at = 0;         // a byte of the line
        int64_t column = 0;     // the display column that byte starts at
    };
    // The line's mark at or before column, or null.
    const Mark* Find(int64_t lineBegin, int64_t column) const;
    void Remember(const Mark& mark);
    void Clear() { marks_ = {}; }

private:
    std::array<Mark, 256> marks_{}; // one per line, by where it begins
};

// Keep only the display columns [fromColumn, fromColumn + columns).
struct LineClip {
    int64_t fromColumn = 0;
    int64_t columns = 0;
    ColumnMarks* marks = nullptr; // the view's, when it keeps them
};

// Lines first to first + count - 1, counted from 1, as display text: 8-bit
// (one byte a column), or for an index of UTF-8 text UTF-8 with one
// character a column. False when a line reads short (the file changed or
// shrank): failedLine is its number, out holds the lines before it. For a
// file read through blocks, a line not in memory yet fails too, and the
// file's Misses() grow: it is asked for, and shows once it is in.
bool GetLines(const TextFile& file, const LineIndex& index, int64_t first, int64_t count, const LineClip* clip,
              std::vector<std::string>& out, int64_t& failedLine);

// Hex dump line n, from 1: "$0000ABCD 41 42 ..." padded, a blank, the bytes
// as characters. False on a short read.
bool HexLine(const TextFile& file, int64_t n, std::string& out);
// The 0-based column where the character part of a dump line starts (58
// for files below 4 GiB: the offset grows past 8 digits beyond that).
int64_t HexTextColumn(int64_t fileSize);

// Where LocateOffset left off, so that the matches of one search, met in
// file order, are located without reading their lines again from the start.
struct LocateCursor {
    int64_t line = -1;
    int64_t at = 0;     // the next byte to count
    int64_t column = 0; // display columns before it
};

// (line from 0, column from 1) of the byte at offset: display columns up to
// and including it. Indexes further when the offset lies past what is
// indexed; line -1 when it cannot be found (or, for a file read through
// blocks, not yet).
// With a cursor, a later offset on the same line goes on from the last one.
std::pair<int64_t, int64_t> LocateOffset(const TextFile& file, LineIndex& index, int64_t offset,
                                         LocateCursor* cursor = nullptr);

// The editor's filtered text: every line of bytes as the normal mode shows
// it (tabs expanded, other control bytes as blanks), joined by line feeds;
// UTF-8 when the bytes are.
// pureAscii tells whether the bytes hold no control byte but tab, line
// feed, form feed and carriage return.
std::string FilteredText(const std::string& bytes, int tab, bool& pureAscii);

// The character a display byte stands for (Windows-1252, the 8-bit text
// most such files hold; bytes it leaves undefined map to Latin-1).
char16_t DisplayChar(unsigned char b);

// Whether data is UTF-8 with no byte outside a well-formed sequence; a
// sequence cut by the end counts only when data is the whole file.
bool IsUtf8(const unsigned char* data, size_t size, bool wholeFile);
// The bytes looked at to tell a file's text.
inline constexpr int64_t kUtf8Probe = int64_t(256) << 10;
// Whether the start of file reads as UTF-8: then the view shows it so; any
// other file keeps the 8-bit display.
bool LooksLikeUtf8(const TextFile& file);

} // namespace tarnel
