#include "capture/textutil.h"

namespace {

constexpr std::size_t LongTextStartBytes = 64;

// The byte at text[i] lies in [low, high]: Utf8CutSequence past the end of the text.
std::size_t ContinuationAt(std::string_view text, std::size_t i, unsigned char low, unsigned char high) {
    if (i >= text.size()) {
        return Utf8CutSequence;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    return c >= low && c <= high ? 1 : 0;
}

} // namespace

std::string_view TrimBlanks(std::string_view text) {
    std::size_t first = 0;
    while (first < text.size() && IsBlankByte(text[first])) {
        ++first;
    }
    std::size_t last = text.size();
    while (last > first && IsBlankByte(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80; // the second byte's range; the later ones are 0x80 to 0xBF
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = c == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const std::size_t ok = ContinuationAt(text, i + k, k == 1 ? low : 0x80, k == 1 ? high : 0xBF);
        if (ok != 1) {
            return ok;
        }
    }
    return length;
}

std::string ListInSentence(const std::vector<std::string_view>& items) {
    std::string list;
    for (std::size_t i = 0; i < items.size(); ++i) {
        list += i == 0 ? "" : i + 1 == items.size() ? " and " : ", ";
        list += items[i];
    }
    return list;
}

std::string_view LongTextStart(std::string_view text) {
    if (text.size() <= LongTextStartBytes) {
        return text;
    }
    std::size_t size = LongTextStartBytes;
    // Do not cut a UTF-8 sequence: back off over continuation bytes to its lead byte.
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) {
        --size;
    }
    return text.substr(0, size);
}

TNumberRead ReadDigits(std::string_view digits, unsigned base, std::uint64_t& value) {
    if (digits.empty()) {
        return TNumberRead::nrNotNumber;
    }
    value = 0;
    bool tooWide = false;
    for (const char c : digits) {
        const unsigned digit = HexDigitValue(c);
        if (digit >= base) {
            return TNumberRead::nrNotNumber;
        }
        if (value > (UINT64_MAX - digit) / base) {
            tooWide = true; // keep looking: a later character may make it no number at all
        } else {
            value = value * base + digit;
        }
    }
    return tooWide ? TNumberRead::nrTooWide : TNumberRead::nrNumber;
}

bool ParseDecimalOrHex(std::string_view text, std::uint64_t& value) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    return ReadDigits(text, base, value) == TNumberRead::nrNumber;
}

TNumberRead ReadExportNumber(std::string_view text, std::uint64_t& value) {
    text = TrimBlanks(text);
    if (text.empty()) {
        return TNumberRead::nrEmpty;
    }
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0') {
        if (text[1] == 'x' || text[1] == 'X') {
            base = 16;
            text.remove_prefix(2);
        } else if (text[1] == 'b' || text[1] == 'B') {
            base = 2;
            text.remove_prefix(2);
        }
    }
    return ReadDigits(text, base, value);
}

std::filesystem::path PathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string FileNameUtf8(const std::filesystem::path& path) {
    const std::u8string name = path.filename().u8string();
    return std::string(name.begin(), name.end());
}
