// Small conversions between UTF-16 test texts and narrow strings for failure messages.
#pragma once

#include <string>
#include <string_view>

inline std::string ToNarrow(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) {
                out.push_back(kHex[(c >> shift) & 0xF]);
            }
        }
    }
    return out;
}

inline std::u16string ToU16(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}


template <typename Int> std::u16string DecimalU16(Int value) {
    return ToU16(std::to_string(value));
}
