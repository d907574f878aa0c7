#pragma once
// The editor's text: a file's bytes as the lines the editor shows, and the
// lines back to bytes so that what the user left alone is written as it was:
// its encoding, its byte order mark and each line's own line end.
#include <cstdint>
#include <string>
#include <vector>

namespace tarnel {

enum class TextEncoding { EightBit, Utf8, Utf16LE, Utf16BE };

// How a line ends; None only for the last line. The separators after CR LF
// are characters a text box also breaks lines at.
enum class LineEnd : uint8_t { None, Lf, Cr, CrLf, LfCr, ParagraphSeparator, FrameStart, FrameEnd };

class EditedText {
public:
    // raw: the whole file. UTF-16 needs its byte order mark; UTF-8 is taken
    // when the whole file is valid UTF-8; anything else is 8-bit text.
    explicit EditedText(const std::string& raw = {});

    TextEncoding Encoding() const { return encoding_; }
    bool HasByteOrderMark() const { return !bom_.empty(); }
    // False when a line holds a control character other than tab and form
    // feed (line ends do not count).
    bool PureText() const;
    // As the view shows them: tabs expanded to tab columns, other control
    // characters as blanks; every line end becomes CR LF, and a file that
    // ended with a line end still does.
    void Filter(int tab);

    const std::vector<std::u16string>& Lines() const { return lines_; }
    const std::vector<LineEnd>& Ends() const { return ends_; }

    // The file's bytes for the lines as edited. A line the edit left as it
    // was keeps its line end; a changed line takes the end of the line it
    // replaced, a new line that of the line before it. lossless is false when
    // some character had no byte in the file's encoding (written as "?").
    std::string Encode(const std::vector<std::u16string>& edited, bool* lossless = nullptr) const;

private:
    std::string bom_;
    TextEncoding encoding_ = TextEncoding::Utf8;
    std::vector<std::u16string> lines_;
    std::vector<LineEnd> ends_;
    LineEnd defaultEnd_ = LineEnd::Lf;
};

// For each line of edited, the index of the line of original it is unchanged
// from, or -1: a shortest edit script, bounded in effort; past the bound the
// lines between the common start and end stay unmatched.
std::vector<int64_t> MatchUnchangedLines(const std::vector<std::u16string>& original,
                                         const std::vector<std::u16string>& edited, int maxEdits = 1024);

} // namespace tarnel
