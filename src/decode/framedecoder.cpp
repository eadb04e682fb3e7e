#include "framedecoder.h"

#include "orodja.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

void AppendAscii(std::u16string& out, std::string_view ascii) {
    out.append(ascii.begin(), ascii.end());
}

std::u16string Utf16FromAscii(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

template <typename Int> std::u16string DecimalText(Int value) {
    std::array<char, 24> buf{};
    const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), value);
    return Utf16FromAscii(std::string_view(buf.data(), static_cast<std::size_t>(res.ptr - buf.data())));
}

// Two uppercase hexadecimal digits; every CRC value is below 64.
std::u16string HexByteText(std::uint8_t value) {
    constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    return std::u16string{kDigits[(value >> 4) & 0x0F], kDigits[value & 0x0F]};
}

int HexDigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    return -1;
}

// Reads `text` as an unsigned 64-bit hexadecimal number: any number of leading zeros, then
// at most 16 significant digits. Returns false for an empty text, a non-hex character or a
// value that does not fit.
bool ParseHexWord(std::u16string_view text, std::uint64_t& word) {
    if (text.empty()) {
        return false;
    }
    std::uint64_t value = 0;
    int significant = 0;
    for (const char16_t c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0) {
            return false;
        }
        if (significant > 0 || digit != 0) {
            if (++significant > 16) {
                return false;
            }
        }
        value = (value << 4) | static_cast<std::uint64_t>(digit);
    }
    word = value;
    return true;
}

// A positive finite number limited to 15 significant digits: Digits[0].Digits[1..14] x 10^Exponent.
struct TFifteenDigits {
    std::array<char, 15> Digits{};
    int Exponent = 0;
};

int ParseExponent(const char* first, const char* last) {
    bool negative = false;
    if (first != last && (*first == '+' || *first == '-')) {
        negative = *first == '-';
        ++first;
    }
    int exponent = 0;
    std::from_chars(first, last, exponent);
    return negative ? -exponent : exponent;
}

// Rounds `magnitude` to 15 significant digits, a half rounded away from zero. The 16-digit
// correctly rounded form decides every case but one: when its 16th digit is 5 the true tail may
// lie either side of the half, so the exact expansion (at most 767 significant digits for a
// double) is consulted.
TFifteenDigits RoundToFifteenDigits(double magnitude) {
    std::array<char, 32> shortBuf{};
    auto res = std::to_chars(shortBuf.data(), shortBuf.data() + shortBuf.size(), magnitude,
                             std::chars_format::scientific, 15);
    const char* text = shortBuf.data();
    const char* end = res.ptr;

    std::array<char, 800> exactBuf; // written only on the rare tie path
    if (text[16] == '5') {
        res = std::to_chars(exactBuf.data(), exactBuf.data() + exactBuf.size(), magnitude,
                            std::chars_format::scientific, 780);
        text = exactBuf.data();
        end = res.ptr;
    }
    // Layout: d.ddd...e[+-]xx
    TFifteenDigits result;
    result.Digits[0] = text[0];
    std::memcpy(result.Digits.data() + 1, text + 2, 14);
    const char sixteenth = text[16];
    const char* e = static_cast<const char*>(std::memchr(text, 'e', static_cast<std::size_t>(end - text)));
    result.Exponent = ParseExponent(e + 1, end);

    if (sixteenth >= '5') {
        int i = 14;
        for (; i >= 0 && result.Digits[static_cast<std::size_t>(i)] == '9'; --i) {
            result.Digits[static_cast<std::size_t>(i)] = '0';
        }
        if (i >= 0) {
            ++result.Digits[static_cast<std::size_t>(i)];
        } else {
            result.Digits[0] = '1';
            ++result.Exponent;
        }
    }
    return result;
}

void AppendGrouped(std::u16string& out, std::string_view integerDigits, char16_t thousand) {
    const std::size_t count = integerDigits.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0 && (count - i) % 3 == 0) {
            out.push_back(thousand);
        }
        out.push_back(static_cast<char16_t>(integerDigits[i]));
    }
}

void AppendExponentForm(std::u16string& out, bool negative, const TFifteenDigits& d,
                        char16_t decimal) {
    if (negative) {
        out.push_back(u'-');
    }
    out.push_back(static_cast<char16_t>(d.Digits[0]));
    std::size_t last = d.Digits.size();
    while (last > 1 && d.Digits[last - 1] == '0') {
        --last;
    }
    if (last > 1) {
        out.push_back(decimal);
        out.append(d.Digits.begin() + 1, d.Digits.begin() + static_cast<std::ptrdiff_t>(last));
    }
    out.push_back(u'E');
    int exponent = d.Exponent;
    if (exponent < 0) {
        out.push_back(u'-');
        exponent = -exponent;
    }
    std::array<char, 8> buf{};
    const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), exponent);
    const auto length = static_cast<std::size_t>(res.ptr - buf.data());
    for (std::size_t pad = length; pad < 4; ++pad) {
        out.push_back(u'0');
    }
    AppendAscii(out, std::string_view(buf.data(), length));
}

} // namespace

std::u16string FormatScaledNumber(double value, TRegionalSeparators separators) {
    std::u16string out;
    const bool negative = std::signbit(value);
    const double magnitude = std::fabs(value);
    if (magnitude == 0.0) {
        out.push_back(u'0');
        out.push_back(separators.Decimal);
        out.append(4, u'0');
        return out;
    }
    const TFifteenDigits d = RoundToFifteenDigits(magnitude);
    if (d.Exponent >= 15) {
        AppendExponentForm(out, negative, d, separators.Decimal);
        return out;
    }

    // The value times 10^4, rounded half away from zero, as a digit string: the 15 digits
    // stand for Digits x 10^(Exponent - 14), so 10^4 times that shifts them by Exponent - 10.
    std::string scaled;
    const int shift = d.Exponent - 10;
    if (shift >= 0) {
        scaled.assign(d.Digits.begin(), d.Digits.end());
        scaled.append(static_cast<std::size_t>(shift), '0');
    } else {
        const int keep = 15 + shift; // digits left of the rounding position
        bool roundUp = false;
        if (keep >= 0) {
            scaled.assign(d.Digits.begin(), d.Digits.begin() + keep);
            roundUp = keep < 15 && d.Digits[static_cast<std::size_t>(keep)] >= '5';
        }
        if (roundUp) {
            int i = static_cast<int>(scaled.size()) - 1;
            for (; i >= 0 && scaled[static_cast<std::size_t>(i)] == '9'; --i) {
                scaled[static_cast<std::size_t>(i)] = '0';
            }
            if (i >= 0) {
                ++scaled[static_cast<std::size_t>(i)];
            } else {
                scaled.insert(scaled.begin(), '1');
            }
        }
    }
    const std::size_t firstNonZero = scaled.find_first_not_of('0');
    if (firstNonZero == std::string::npos) {
        // Rounds to zero: written without a sign.
        out.push_back(u'0');
        out.push_back(separators.Decimal);
        out.append(4, u'0');
        return out;
    }
    scaled.erase(0, firstNonZero);
    if (scaled.size() < 5) {
        scaled.insert(0, 5 - scaled.size(), '0');
    }
    if (negative) {
        out.push_back(u'-');
    }
    const std::string_view all(scaled);
    AppendGrouped(out, all.substr(0, all.size() - 4), separators.Thousand);
    out.push_back(separators.Decimal);
    AppendAscii(out, all.substr(all.size() - 4));
    return out;
}

TDecodedFrame DecodeFrame(std::u16string_view text, std::int32_t positionLength,
                          std::int32_t numerator, std::int32_t denominator,
                          std::u16string_view unit, TRegionalSeparators separators) {
    TDecodedFrame frame;

    // Cleaning: letters and digits only, then one "0x" removed wherever it stands.
    frame.CleanText = FilterAlphaNum(text);
    if (const auto at = frame.CleanText.find(u"0x"); at != std::u16string::npos) {
        frame.CleanText.erase(at, 2);
    }

    std::uint64_t word = 0;
    if (!ParseHexWord(frame.CleanText, word)) {
        frame.Outcome = TDecodeOutcome::doInvalidInput;
        return frame;
    }
    frame.Word = word;
    frame.BitsText = IntToBin(64, word);

    // The start bit is the 1 of the first 0-then-1 pair from s1 on; the pair s0, s1 is never
    // looked at. After i shifts, bit 63 is s(i) and bit 62 is s(i+1).
    std::uint64_t v = word;
    std::int32_t shifts = 0;
    do {
        v <<= 1;
        ++shifts;
    } while (!((v >> 63) == 0 && ((v >> 62) & 1U) == 1) && shifts < 64);
    if (shifts >= 64) {
        frame.Outcome = TDecodeOutcome::doNoStartBit;
        return frame;
    }
    frame.Outcome = TDecodeOutcome::doDecoded;
    frame.AckLength = shifts + 1;

    // Drop the last ACK bit, the start bit and the CDS bit: bit 63 is now the first position
    // bit. Then right-align position, nE, nW and CRC. The shift count is taken modulo 64 so
    // that lengths outside 1..50, typed but not yet corrected, stay defined.
    const std::int64_t n = positionLength;
    v <<= 3;
    const auto alignShift = static_cast<unsigned>((64 - (n + 2 + 6)) & 63);
    v >>= alignShift;

    frame.CrcReceived = static_cast<std::uint8_t>(v & 0x3F);
    frame.StatusBits = static_cast<std::uint8_t>((v >> 6) & 0x03);
    frame.PositionRaw = v >> 8;

    const std::uint64_t data = v >> 6;
    const std::int64_t dataBits = n + 2;
    const std::int64_t groups = dataBits / 6 + (dataBits % 6 != 0 ? 1 : 0);
    frame.CrcCalculated = CalcCRC6(static_cast<std::int32_t>(groups), data);
    frame.CrcNonInverted = static_cast<std::uint8_t>(~frame.CrcReceived & 0x3F);

    // A frame running past bit 0 was read with zero bits for its missing tail; part of its CRC
    // was never received, so a match would be chance and is never reported as one.
    frame.Truncated = static_cast<std::int64_t>(frame.AckLength) + n + 10 > 64;
    frame.CrcOk = !frame.Truncated && frame.CrcCalculated == frame.CrcNonInverted;

    const double factor = static_cast<double>(numerator) / static_cast<double>(denominator);
    frame.ScaledPosition = static_cast<double>(frame.PositionRaw) * factor;
    if (!std::isfinite(frame.ScaledPosition)) {
        throw std::domain_error("Cannot scale the position: " + std::to_string(numerator) +
                                " divided by a denominator of " + std::to_string(denominator) +
                                " is not a finite number");
    }

    frame.AckText = DecimalText(frame.AckLength);
    frame.AckText += u" bits";
    frame.CrcReceivedText = HexByteText(frame.CrcReceived);
    frame.CrcNonInvertedText = HexByteText(frame.CrcNonInverted);
    frame.CrcCalculatedText = HexByteText(frame.CrcCalculated);

    frame.StatusText = IntToBin(2, frame.StatusBits);
    if ((frame.StatusBits & 0x02) == 0) {
        frame.StatusText += u" Error";
    }
    if ((frame.StatusBits & 0x01) == 0) {
        frame.StatusText += u" Warning";
    }
    frame.PositionText = DecimalText(frame.PositionRaw);

    frame.ScaledText = FormatScaledNumber(frame.ScaledPosition, separators);
    frame.ScaledText.push_back(u' ');
    frame.ScaledText.append(unit);
    return frame;
}
