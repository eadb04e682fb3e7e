#include "cli/textout.h"

#include "capture/textutil.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::string_view Replacement = "\xEF\xBF\xBD"; // U+FFFD

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Calls write(byteOrSequence, isValid) for each ASCII byte, each well-formed UTF-8 sequence and
// each byte that belongs to none.
template <typename TWrite> void ForEachCharacter(std::string_view text, TWrite write) {
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = Utf8SequenceLength(text, i);
        if (length == 0 || length == Utf8CutSequence) {
            write(text.substr(i, 1), false);
            ++i;
        } else {
            write(text.substr(i, length), true);
            i += length;
        }
    }
}

} // namespace

void TOutBuffer::Grow(std::size_t bytes) {
    const std::size_t needed = FUsed + bytes;
    FData.resize(std::max({needed, 2 * FData.size(), std::size_t{4096}}));
}

char* WriteShortestDouble(char* p, double value) {
    if (value == 0) {
        value = 0; // no "-0"
    }
    return std::to_chars(p, p + MaxNumberChars, value).ptr;
}

char* WriteFixedDouble(char* p, double value, int decimals) {
    if (value == 0) {
        value = 0;
    }
    // Fixed notation of a huge value needs hundreds of digits: exponent form from 1e15 on.
    if (std::fabs(value) >= 1e15) {
        return std::to_chars(p, p + MaxNumberChars, value, std::chars_format::scientific, 14).ptr;
    }
    char* end = std::to_chars(p, p + MaxNumberChars, value, std::chars_format::fixed, decimals).ptr;
    // A value that rounds to zero is written without a sign, as the window writes it.
    if (*p == '-' && std::all_of(p + 1, end, [](char c) { return c == '0' || c == '.'; })) {
        std::memmove(p, p + 1, static_cast<std::size_t>(end - p - 1));
        --end;
    }
    return end;
}

char* WriteScientific(char* p, double value, int digits) {
    if (value == 0) {
        value = 0; // no "-0"
    }
    if (!std::isfinite(value)) {
        return WriteShortestDouble(p, value);
    }
    return std::to_chars(p, p + MaxNumberChars, value, std::chars_format::scientific,
                         std::max(digits, 1) - 1)
        .ptr;
}

char* WriteSignificant(char* p, double value, int digits) {
    if (value == 0 || !std::isfinite(value)) {
        return WriteShortestDouble(p, value);
    }
    digits = std::max(digits, 1);
    // The decimal exponent after rounding to `digits` digits (999999.96 to 7 digits is 1e6,
    // one more integer digit than the value has), read from the exponent form.
    char text[MaxNumberChars];
    const char* end = WriteScientific(text, value, digits);
    const char* e = std::find(static_cast<const char*>(text), end, 'e');
    int exponent = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), end, exponent);
    return WriteFixedDouble(p, value, std::max(0, digits - 1 - exponent));
}

char* WriteHex(char* p, std::uint64_t value, int digits) {
    int needed = 1;
    while (needed < 16 && (value >> (4 * needed)) != 0) {
        ++needed;
    }
    const int count = std::max(needed, digits);
    *p++ = '0';
    *p++ = 'x';
    for (int i = count - 1; i >= 0; --i) {
        *p++ = i >= 16 ? '0' : UpperHexDigits[(value >> (4 * i)) & 0xF];
    }
    return p;
}

char* WriteJsonEscaped(char* p, std::string_view text) {
    ForEachCharacter(text, [&p](std::string_view ch, bool valid) {
        if (!valid) {
            p = WriteText(p, Replacement);
            return;
        }
        const auto c = static_cast<unsigned char>(ch[0]);
        if (ch.size() > 1 || (!IsControl(c) && c != '"' && c != '\\')) {
            p = WriteText(p, ch);
            return;
        }
        *p++ = '\\';
        switch (c) {
        case '"': *p++ = '"'; break;
        case '\\': *p++ = '\\'; break;
        case '\n': *p++ = 'n'; break;
        case '\r': *p++ = 'r'; break;
        case '\t': *p++ = 't'; break;
        case '\b': *p++ = 'b'; break;
        case '\f': *p++ = 'f'; break;
        default:
            p = WriteText(p, "u00");
            *p++ = LowerHexDigits[c >> 4];
            *p++ = LowerHexDigits[c & 0xF];
        }
    });
    return p;
}

bool CsvNeedsQuotes(std::string_view text) {
    bool needs = false;
    ForEachCharacter(text, [&needs](std::string_view ch, bool valid) {
        const auto c = static_cast<unsigned char>(ch[0]);
        needs = needs || !valid || IsControl(c) || c == ',' || c == '"';
    });
    return needs;
}

char* WriteCsvField(char* p, std::string_view text) {
    if (!CsvNeedsQuotes(text)) {
        return WriteText(p, text);
    }
    *p++ = '"';
    ForEachCharacter(text, [&p](std::string_view ch, bool valid) {
        if (!valid) {
            p = WriteText(p, Replacement);
        } else if (ch[0] == '"') {
            p = WriteText(p, "\"\"");
        } else {
            p = WriteText(p, ch);
        }
    });
    *p++ = '"';
    return p;
}

char* WriteTableText(char* p, std::string_view text) {
    ForEachCharacter(text, [&p](std::string_view ch, bool valid) {
        const auto c = static_cast<unsigned char>(ch[0]);
        if (!valid) {
            p = WriteText(p, Replacement);
        } else if (IsControl(c)) {
            p = WriteText(p, "\\x");
            *p++ = UpperHexDigits[c >> 4];
            *p++ = UpperHexDigits[c & 0xF];
        } else {
            p = WriteText(p, ch);
        }
    });
    return p;
}

std::size_t TableTextWidth(std::string_view text) {
    std::size_t width = 0;
    ForEachCharacter(text, [&width](std::string_view ch, bool valid) {
        width += valid && IsControl(static_cast<unsigned char>(ch[0])) ? 4 : 1;
    });
    return width;
}

namespace {

template <typename TWriter> std::string Escaped(std::string_view text, TWriter writer) {
    std::string out(MaxEscapedSize(text.size()), '\0');
    out.resize(static_cast<std::size_t>(writer(out.data(), text) - out.data()));
    return out;
}

} // namespace

std::string JsonEscaped(std::string_view text) { return Escaped(text, WriteJsonEscaped); }
std::string CsvField(std::string_view text) { return Escaped(text, WriteCsvField); }
std::string TableText(std::string_view text) { return Escaped(text, WriteTableText); }
