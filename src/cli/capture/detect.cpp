// Recognising the format of an input from its first lines (the rules are in capture.h).
#include "csvrecords.h"
#include "readers.h"

#include <vector>

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";
constexpr std::size_t SampleLines = DetectSampleLines;

// True when the sample holds a byte no text export holds: NUL and the other control
// characters but TAB, LF, VT, FF and CR, DEL, and bytes that do not form UTF-8. A sequence cut
// by the end of an incomplete sample is not held against it.
bool LooksBinary(std::string_view sample, bool complete) {
    const std::size_t n = sample.size();
    std::size_t i = 0;
    while (i < n) {
        const auto c = static_cast<unsigned char>(sample[i]);
        if (c < 0x80) {
            const bool control = (c < 0x20 && c != '\t' && c != '\n' && c != '\v' && c != '\f' && c != '\r') || c == 0x7F;
            if (control) {
                return true;
            }
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            low = c == 0xE0 ? 0xA0 : 0x80; // no overlong forms
            high = c == 0xED ? 0x9F : 0xBF; // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return true;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if (i + k >= n) {
                return complete; // cut by the end of the sample
            }
            const auto next = static_cast<unsigned char>(sample[i + k]);
            const unsigned char lo = k == 1 ? low : 0x80;
            const unsigned char hi = k == 1 ? high : 0xBF;
            if (next < lo || next > hi) {
                return true;
            }
        }
        i += length;
    }
    return false;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool IsSeparator(char c) {
    return IsBlankByte(c) || c == ':' || c == ',' || c == ';' || c == '.' || c == '_' || c == '-';
}

// A line of hexadecimal digits, with blanks, separators and "0x" prefixes.
bool IsHexShaped(std::string_view line) {
    std::size_t digits = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (IsHexDigit(c)) {
            ++digits;
        } else if (c == 'x' || c == 'X') {
            const bool prefix = i > 0 && line[i - 1] == '0' && (i == 1 || IsSeparator(line[i - 2]));
            if (!prefix) {
                return false;
            }
        } else if (!IsSeparator(c)) {
            return false;
        }
    }
    return digits > 0;
}

bool IsComment(std::string_view trimmed) { return !trimmed.empty() && trimmed.front() == '#'; }

struct TSampleLine {
    std::string_view Text; // trimmed
    std::uint64_t Line = 0;
};

std::string Shown(std::string_view text) {
    std::string shown(LongTextStart(text));
    if (shown.size() < text.size()) {
        shown += LongTextEllipsis;
    }
    return shown;
}

} // namespace

std::string_view DetectInputFormat(std::string_view sample, bool complete, const TReaderOptions& options) {
    if (sample.substr(0, Bom.size()) == Bom) {
        sample.remove_prefix(Bom.size());
    }
    // Only the first SampleLines non-blank lines count, however much more was read.
    {
        std::size_t lines = 0;
        bool lineHasText = false;
        for (std::size_t i = 0; i < sample.size(); ++i) {
            const char c = sample[i];
            if (c == '\n') {
                lines += lineHasText ? 1 : 0;
                lineHasText = false;
                if (lines == SampleLines) {
                    sample = sample.substr(0, i + 1);
                    complete = true; // what follows the cut is not looked at
                    break;
                }
            } else if (!IsBlankByte(c)) {
                lineHasText = true;
            }
        }
    }
    if (LooksBinary(sample, complete)) {
        return "binary";
    }
    // The non-blank lines of the sample; a last line without its end only when the sample is
    // the whole input or holds no other line.
    std::vector<TSampleLine> lines;
    std::uint64_t number = 0;
    std::size_t at = 0;
    while (at < sample.size() && lines.size() < SampleLines) {
        const std::size_t newline = sample.find('\n', at);
        if (newline == std::string_view::npos && !complete && !lines.empty()) {
            break;
        }
        const std::size_t end = newline == std::string_view::npos ? sample.size() : newline;
        ++number;
        const std::string_view text = TrimBlanks(sample.substr(at, end - at));
        if (!text.empty()) {
            lines.push_back({text, number});
        }
        at = end + 1;
    }
    if (lines.empty()) {
        return "hex"; // nothing but blanks: no frames in any format
    }

    const TSampleLine& first = lines.front();
    std::vector<std::string_view> fields;
    std::string scratch;
    SplitCsvText(first.Text, DetectCsvDelimiter(first.Text), fields, scratch);
    auto has = [&fields](std::string_view name) { return FindColumn(fields, name) >= 0; };
    if (has("name") && has("type") && has("start_time")) {
        return "saleae-table";
    }
    if (has("time [s]") && has("packet id")) {
        return "saleae-spi";
    }
    if (has("data") && has("err-warn") && has("crc")) {
        return "saleae-biss";
    }
    const std::string_view column = WantedColumn(options);
    if (has(column)) {
        return "csv";
    }
    std::string_view instance;
    std::string digits;
    if (ParseSigrokAnnotation(first.Text, instance, digits)) {
        return "sigrok";
    }
    std::size_t data = 0;
    std::size_t hexShaped = 0;
    const TSampleLine* firstData = nullptr;
    for (const TSampleLine& line : lines) {
        if (IsComment(line.Text)) {
            continue;
        }
        firstData = firstData == nullptr ? &line : firstData;
        ++data;
        hexShaped += IsHexShaped(line.Text) ? 1 : 0;
    }
    if (firstData == nullptr || (IsHexShaped(firstData->Text) && 2 * hexShaped >= data)) {
        return "hex"; // hex lines, or only comments
    }
    if (fields.size() >= 2) {
        throw TInputError(first.Line, "the input looks like CSV, but its header has no column \"" +
                                          std::string(column) + "\"; its columns are " +
                                          ListColumns(fields) +
                                          "; choose one with --column, or give --input");
    }
    throw TInputError(firstData->Line,
                      "the format of the input was not recognised from its first lines (\"" +
                          Shown(firstData->Text) +
                          "\"); tried binary, saleae-table, saleae-spi, saleae-biss, csv, sigrok "
                          "and hex: give --input with the format");
}
