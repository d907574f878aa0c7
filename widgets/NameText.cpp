#include "widgets/NameText.h"

#include "platform/Utf8.h"

namespace tarnel {

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // + a byte of 0x80..0xFF

// Length of the well-formed UTF-8 sequence at text[i] and its code point; 0
// when the bytes there are not one (overlong, surrogate, beyond U+10FFFF, cut).
size_t Utf8Sequence(const std::string& text, size_t i, char32_t& code)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

QString NameToEditText(const std::string& name)
{
    QString text;
    text.reserve(qsizetype(name.size()));
    for (size_t i = 0; i < name.size();) {
        char32_t code = 0;
        const size_t length = Utf8Sequence(name, i, code);
        if (length == 0) {
            text += QChar(char16_t(kEscapeBase + static_cast<unsigned char>(name[i])));
            ++i;
            continue;
        }
        text += QString::fromUcs4(&code, 1);
        i += length;
    }
    return text;
}

std::string EditTextToName(const QString& text)
{
    std::string name;
    name.reserve(size_t(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            AppendUtf8(name, QChar::surrogateToUcs4(unit, text[i + 1].unicode()));
            ++i;
        } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
            name += char(unit - kEscapeBase);
        } else if (QChar::isSurrogate(unit)) {
            AppendUtf8(name, 0xFFFD); // a stray half of a pair: no byte stands for it
        } else {
            AppendUtf8(name, unit);
        }
    }
    return name;
}

} // namespace tarnel
