// libFuzzer harness for DecodeFrame. The fuzz bytes choose the input text, the position
// length, the scale, the unit and the separators; every result is checked against properties
// that must hold for any input, and for position lengths 1 to 50 against a deliberately
// simple bit-by-bit reference decoder written here from the frame layout, independent of the
// library's shifting and table CRC. Any violation prints the case and aborts, which libFuzzer
// (or the replay main) reports as a finding.

#include "decode/framedecoder.h"
#include "framesupport.h"
#include "referencedecoder.h"
#include "decode/orodja.h"

#include <cmath>
#include <limits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

// ---------------------------------------------------------------------------------------------
// The case under test, kept so that a failing check can print it.

struct TFuzzCase {
    std::u16string Text;
    std::int32_t PositionLength = 26;
    std::int32_t Numerator = 360;
    std::int32_t Denominator = 67108864;
    std::u16string Unit;
    TRegionalSeparators Separators;
};

const TFuzzCase* currentCase = nullptr;
// The display text under check, if any, printed with a failure.
const std::u16string* currentText = nullptr;
double currentValue = 0.0;

void PrintUnits(const char* name, std::u16string_view text) {
    std::fprintf(stderr, "  %s (%zu code units):", name, text.size());
    for (const char16_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            std::fprintf(stderr, " '%c'", static_cast<char>(c));
        } else {
            std::fprintf(stderr, " U+%04X", static_cast<unsigned>(c));
        }
    }
    std::fprintf(stderr, "\n");
}

void PrintCase() {
    if (currentCase == nullptr) {
        return;
    }
    const TFuzzCase& c = *currentCase;
    std::fprintf(stderr, "case:\n");
    PrintUnits("text", c.Text);
    std::fprintf(stderr, "  positionLength %d, numerator %d, denominator %d\n",
                 static_cast<int>(c.PositionLength), static_cast<int>(c.Numerator),
                 static_cast<int>(c.Denominator));
    PrintUnits("unit", c.Unit);
    std::fprintf(stderr, "  separators decimal U+%04X thousand U+%04X\n",
                 static_cast<unsigned>(c.Separators.Decimal),
                 static_cast<unsigned>(c.Separators.Thousand));
    if (currentText != nullptr) {
        PrintUnits("ScaledText", *currentText);
        std::fprintf(stderr, "  ScaledPosition %.17g\n", currentValue);
    }
}

[[noreturn]] void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "\nCHECK FAILED: %s\n  at %s:%d\n", what, file, line);
    PrintCase();
    std::fflush(stderr);
    std::abort();
}

void PrintValue(const char* name, std::uint64_t value) {
    std::fprintf(stderr, "  %s = %llu (0x%llX)\n", name, static_cast<unsigned long long>(value),
                 static_cast<unsigned long long>(value));
}
void PrintValue(const char* name, std::u16string_view value) { PrintUnits(name, value); }
void PrintValue(const char* name, bool value) {
    std::fprintf(stderr, "  %s = %s\n", name, value ? "true" : "false");
}
void PrintValue(const char* name, TDecodeOutcome value) {
    std::fprintf(stderr, "  %s = %d\n", name, static_cast<int>(value));
}
void PrintValue(const char* name, double value) { std::fprintf(stderr, "  %s = %.17g\n", name, value); }

template <typename A, typename B>
void CheckEqual(const A& actual, const B& expected, const char* actualName,
                const char* expectedName, const char* file, int line) {
    if (!(actual == expected)) {
        std::fprintf(stderr, "\nCHECK_EQ FAILED: %s == %s\n", actualName, expectedName);
        PrintValue("decoder  ", actual);
        PrintValue("reference", expected);
        Fail("values differ", file, line);
    }
}

#define CHECK(cond)                                                                            \
    do {                                                                                       \
        if (!(cond)) {                                                                         \
            Fail(#cond, __FILE__, __LINE__);                                                   \
        }                                                                                      \
    } while (false)

#define CHECK_EQ(actual, expected) CheckEqual((actual), (expected), #actual, #expected, __FILE__, __LINE__)

// ---------------------------------------------------------------------------------------------
// Mapping of the fuzz bytes to a case. Missing bytes read as zero, so every input is a case.
//
// byte 0      position length: below 0xE0 gives 1 + b % 50; otherwise the next two bytes give
//             -100 to 200
// byte 1      scale: b % 8 of 0-3 the default 360 / 67108864, 4-5 any two int32 (next 8
//             bytes, little endian), 6 any numerator over 0, 7 field-range values
// byte 2      separators: b % 4 of 0 "." and ",", 1 "," and ".", 2 "," and U+00A0, 3 any
//             two code units (next 4 bytes)
// byte 3      unit: b % 4 of 0 "deg", 1 empty, 2 "mm", 3 up to 7 code units from the bytes
// byte 4      text: b % 4 of
//               0 a hexadecimal frame: 8 bytes of word, one style byte, then the rest as
//                 Latin-1 noise appended when the style asks for it
//               1 the rest as Latin-1 code units (ASCII, control characters, accented letters)
//               2 the rest through a table of awkward code units (full-width and other
//                 digits, look-alike letters, spaces, lone surrogates) below 0x80 kept ASCII
//               3 the rest as raw UTF-16LE code units

class TByteReader {
public:
    TByteReader(const std::uint8_t* data, std::size_t size) : data_(data), left_(size) {}

    std::uint8_t Byte() {
        if (left_ == 0) {
            return 0;
        }
        --left_;
        return *data_++;
    }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Byte() | (Byte() << 8)); }
    std::uint32_t U32() {
        const std::uint32_t low = U16();
        return low | (static_cast<std::uint32_t>(U16()) << 16);
    }
    std::uint64_t U64() {
        const std::uint64_t low = U32();
        return low | (static_cast<std::uint64_t>(U32()) << 32);
    }
    std::size_t Left() const { return left_; }

private:
    const std::uint8_t* data_;
    std::size_t left_;
};

std::int32_t AsInt32(std::uint32_t bits) {
    std::int32_t value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

constexpr char16_t kAwkwardUnits[] = {
    // full-width digits, A-F, a-f and x
    0xFF10, 0xFF11, 0xFF12, 0xFF13, 0xFF14, 0xFF15, 0xFF16, 0xFF17, 0xFF18, 0xFF19,
    0xFF21, 0xFF22, 0xFF23, 0xFF24, 0xFF25, 0xFF26, 0xFF41, 0xFF42, 0xFF43, 0xFF44,
    0xFF45, 0xFF46, 0xFF58,
    // other decimal digits: Arabic-Indic, Devanagari, superscripts, Roman numeral one
    0x0660, 0x0661, 0x0669, 0x0966, 0x096F, 0x00B2, 0x00B3, 0x00B9, 0x2070, 0x2160,
    // letters that look like hexadecimal ones: Latin with diacritics, Greek, Cyrillic
    0x00C0, 0x00C4, 0x00C9, 0x00E0, 0x00E4, 0x00E9, 0x00DF, 0x0100, 0x0131, 0x03B1,
    0x0391, 0x0392, 0x0395, 0x0430, 0x0410, 0x0412, 0x0415, 0x0441, 0x0421, 0x0435,
    0x0445, 0x0425, 0x1E9E, 0x212A,
    // spaces, separators, signs and format characters
    0x0000, 0x0009, 0x000A, 0x000D, 0x001F, 0x007F, 0x0085, 0x00A0, 0x1680, 0x2000,
    0x2007, 0x200B, 0x200D, 0x2028, 0x202F, 0x3000, 0xFEFF, 0x2212, 0x2010, 0xFF0D,
    0x00AD, 0xFE58,
    // surrogates alone and in pairs (MATHEMATICAL BOLD DIGIT ZERO is D835 DFCE)
    0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xD835, 0xDFCE,
    // the ends of the plane
    0xFFFD, 0xFFFE, 0xFFFF, 0x0080, 0x00FF,
};

void AppendHexFrame(TByteReader& in, std::u16string& text) {
    const std::uint64_t word = in.U64();
    const std::uint8_t style = in.Byte();
    const bool lower = (style & 0x01) != 0;
    const bool prefix = (style & 0x02) != 0;
    const bool grouped = (style & 0x04) != 0;
    const bool trimZeros = (style & 0x08) != 0;
    const bool noise = (style & 0x10) != 0;
    const bool padBlanks = (style & 0x20) != 0;
    const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";

    if (padBlanks) {
        text += u" \t";
    }
    if (prefix) {
        text += u"0x";
    }
    bool leading = trimZeros;
    for (int nibble = 15; nibble >= 0; --nibble) {
        const unsigned digit = static_cast<unsigned>((word >> (4 * nibble)) & 0xF);
        if (leading && digit == 0 && nibble > 0) {
            continue;
        }
        leading = false;
        text += static_cast<char16_t>(digits[digit]);
        if (grouped && nibble % 4 == 0 && nibble > 0) {
            text += u' ';
        }
    }
    if (padBlanks) {
        text += u"\r\n";
    }
    if (noise) {
        while (in.Left() > 0) {
            text += static_cast<char16_t>(in.Byte());
        }
    }
}

TFuzzCase MapBytes(const std::uint8_t* data, std::size_t size) {
    TByteReader in(data, size);
    TFuzzCase c;

    const std::uint8_t lengthByte = in.Byte();
    if (lengthByte < 0xE0) {
        c.PositionLength = 1 + lengthByte % 50;
    } else {
        c.PositionLength = -100 + static_cast<std::int32_t>(in.U16() % 301);
    }

    const std::uint8_t scaleByte = in.Byte();
    switch (scaleByte % 8) {
    case 4:
    case 5:
        c.Numerator = AsInt32(in.U32());
        c.Denominator = AsInt32(in.U32());
        break;
    case 6:
        c.Numerator = AsInt32(in.U32());
        c.Denominator = 0;
        break;
    case 7:
        c.Numerator = static_cast<std::int32_t>(in.U32() % 20000001u) - 10000000;
        c.Denominator = 1 + static_cast<std::int32_t>(in.U32() % 2100000000u);
        break;
    default:
        c.Numerator = 360;
        c.Denominator = 67108864;
        break;
    }

    const std::uint8_t separatorByte = in.Byte();
    switch (separatorByte % 4) {
    case 1:
        c.Separators = {u',', u'.'};
        break;
    case 2:
        c.Separators = {u',', u'\u00A0'};
        break;
    case 3:
        c.Separators.Decimal = static_cast<char16_t>(in.U16());
        c.Separators.Thousand = static_cast<char16_t>(in.U16());
        break;
    default:
        c.Separators = {u'.', u','};
        break;
    }

    const std::uint8_t unitByte = in.Byte();
    switch (unitByte % 4) {
    case 1:
        break;
    case 2:
        c.Unit = u"mm";
        break;
    case 3: {
        const int count = in.Byte() % 8;
        for (int i = 0; i < count; ++i) {
            c.Unit += static_cast<char16_t>(in.U16());
        }
        break;
    }
    default:
        c.Unit = u"deg";
        break;
    }

    const std::uint8_t textByte = in.Byte();
    switch (textByte % 4) {
    case 0:
        AppendHexFrame(in, c.Text);
        break;
    case 1:
        while (in.Left() > 0) {
            c.Text += static_cast<char16_t>(in.Byte());
        }
        break;
    case 2:
        while (in.Left() > 0) {
            const std::uint8_t b = in.Byte();
            c.Text += b < 0x80 ? static_cast<char16_t>(b)
                               : kAwkwardUnits[(b - 0x80) % std::size(kAwkwardUnits)];
        }
        break;
    default:
        while (in.Left() > 0) {
            c.Text += static_cast<char16_t>(in.U16());
        }
        break;
    }
    return c;
}

// ---------------------------------------------------------------------------------------------
// Reference decoder: one character per bit, no shifts across the word, bit-serial CRC.

struct TReference {
    TDecodeOutcome Outcome = TDecodeOutcome::doInvalidInput;
    std::u16string CleanText;
    std::uint64_t Word = 0;
    std::u16string Bits; // s0 first
    std::int32_t AckLength = 0;
    bool FieldsSet = false; // position length 1 to 50: the fields below are set
    std::uint64_t PositionRaw = 0;
    std::uint8_t StatusBits = 0;
    std::uint8_t CrcReceived = 0;
    std::uint8_t CrcNonInverted = 0;
    std::uint8_t CrcCalculated = 0;
    bool CrcOk = false;
    bool Truncated = false;
};

bool IsAsciiAlnum(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

int HexValue(char16_t c) {
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

TReference ReferenceDecode(std::u16string_view text, std::int32_t n) {
    TReference r;
    for (const char16_t c : text) {
        if (IsAsciiAlnum(c)) {
            r.CleanText += c;
        }
    }
    for (std::size_t i = 0; i + 1 < r.CleanText.size(); ++i) {
        if (r.CleanText[i] == u'0' && r.CleanText[i + 1] == u'x') {
            r.CleanText.erase(i, 2);
            break;
        }
    }

    if (r.CleanText.empty()) {
        return r;
    }
    std::u16string significant;
    for (const char16_t c : r.CleanText) {
        if (HexValue(c) < 0) {
            return r;
        }
        if (!significant.empty() || c != u'0') {
            significant += c;
        }
    }
    if (significant.size() > 16) {
        return r;
    }
    const std::u16string padded = std::u16string(16 - significant.size(), u'0') + significant;
    static const char16_t* const nibbles[16] = {
        u"0000", u"0001", u"0010", u"0011", u"0100", u"0101", u"0110", u"0111",
        u"1000", u"1001", u"1010", u"1011", u"1100", u"1101", u"1110", u"1111"};
    for (const char16_t c : padded) {
        r.Bits += nibbles[HexValue(c)];
        r.Word = r.Word * 16 + static_cast<std::uint64_t>(HexValue(c));
    }

    // The fields, read bit by bit by the shared reference for the window's layout with this
    // position length.
    TFrameLayoutParams layout;
    layout.PositionBits = n >= 1 && n <= 50 ? n : 26;
    const TFrameFields f = ReferenceDecode(layout, FrameBitsFromWord(r.Word));
    r.Outcome = f.Outcome;
    r.AckLength = f.AckLength;
    if (r.Outcome != TDecodeOutcome::doDecoded || n < 1 || n > 50) {
        return r;
    }
    r.FieldsSet = true;
    r.PositionRaw = f.Position;
    r.StatusBits = f.StatusBits;
    r.CrcReceived = static_cast<std::uint8_t>(f.CrcReceived);
    r.CrcNonInverted = static_cast<std::uint8_t>(f.CrcNonInverted);
    r.CrcCalculated = static_cast<std::uint8_t>(f.CrcCalculated);
    r.Truncated = f.Truncated;
    r.CrcOk = f.CrcOk;
    return r;
}

// ---------------------------------------------------------------------------------------------
// Checks of the display texts.

std::u16string Ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

std::u16string HexText(unsigned value) {
    const char* digits = "0123456789ABCDEF";
    std::u16string text;
    text += static_cast<char16_t>(digits[(value >> 4) & 0xF]);
    text += static_cast<char16_t>(digits[value & 0xF]);
    return text;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Checks the number part of ScaledText, given with '.' as decimal and ',' as thousands
// separator, against the value it shows.
void CheckNumberLayout(std::u16string_view number, double value) {
    CHECK(!number.empty());
    std::size_t pos = 0;
    const bool negative = number[0] == u'-';
    if (negative) {
        pos = 1;
    }
    const std::size_t exponentAt = number.find(u'E');
    if (exponentAt == std::u16string_view::npos) {
        // Fixed form: groups of three, a point, exactly four decimals.
        const std::size_t point = number.find(u'.');
        CHECK(point != std::u16string_view::npos);
        CHECK(number.size() == point + 5);
        double parsed = 0;
        std::size_t groupDigits = 0;
        bool firstGroup = true;
        for (std::size_t i = pos; i < point; ++i) {
            if (number[i] == u',') {
                CHECK(groupDigits >= 1 && groupDigits <= 3);
                CHECK(firstGroup || groupDigits == 3);
                firstGroup = false;
                groupDigits = 0;
                continue;
            }
            CHECK(IsDigit(number[i]));
            parsed = parsed * 10 + (number[i] - u'0');
            ++groupDigits;
        }
        CHECK(groupDigits >= 1 && groupDigits <= 3);
        CHECK(firstGroup || groupDigits == 3);
        CHECK(pos + 1 == point || number[pos] != u'0'); // no leading zero
        double scale = 0.1;
        for (std::size_t i = point + 1; i < number.size(); ++i) {
            CHECK(IsDigit(number[i]));
            parsed += (number[i] - u'0') * scale;
            scale /= 10;
        }
        if (negative) {
            CHECK(parsed != 0); // a value rounding to zero is written without a sign
            parsed = -parsed;
        }
        CHECK(std::fabs(value) < 1e15);
        // Fifteen significant digits first, then four decimals; reading the text back in
        // doubles rounds once more for each decimal added (a few units in the last place).
        CHECK(std::fabs(parsed - value) <=
              0.0000501 + std::fabs(value) * (5.01e-15 + 4 * std::numeric_limits<double>::epsilon()));
    } else {
        // Exponent form: d[.ddd]E followed by at least four exponent digits.
        CHECK(exponentAt > pos);
        CHECK(IsDigit(number[pos]) && number[pos] != u'0');
        std::size_t significant = 1;
        if (exponentAt > pos + 1) {
            CHECK(number[pos + 1] == u'.');
            CHECK(exponentAt > pos + 2);
            CHECK(number[exponentAt - 1] != u'0'); // no trailing zeros
            for (std::size_t i = pos + 2; i < exponentAt; ++i) {
                CHECK(IsDigit(number[i]));
                ++significant;
            }
        }
        CHECK(significant <= 15);
        CHECK(number.size() >= exponentAt + 5);
        int exponent = 0;
        for (std::size_t i = exponentAt + 1; i < number.size(); ++i) {
            CHECK(IsDigit(number[i]));
            exponent = exponent * 10 + (number[i] - u'0');
        }
        CHECK(exponent >= 15);
        double mantissa = number[pos] - u'0';
        double scale = 0.1;
        for (std::size_t i = pos + 2; i < exponentAt; ++i) {
            mantissa += (number[i] - u'0') * scale;
            scale /= 10;
        }
        const double parsed = (negative ? -mantissa : mantissa) * std::pow(10.0, exponent);
        CHECK(std::fabs(value) >= 999999999999999.0);
        CHECK(std::fabs(parsed - value) <= std::fabs(value) * 1e-14);
    }
}

void CheckScaledText(const TDecodedFrame& f, const TFuzzCase& c) {
    currentText = &f.ScaledText;
    currentValue = f.ScaledPosition;
    const std::u16string suffix = u" " + c.Unit;
    CHECK(f.ScaledText.size() > suffix.size());
    CHECK(f.ScaledText.compare(f.ScaledText.size() - suffix.size(), suffix.size(), suffix) == 0);
    const std::u16string_view number(f.ScaledText.data(), f.ScaledText.size() - suffix.size());

    // Bring the separators back to '.' and ',' when they can be told apart from the rest of
    // the layout; otherwise only the characters used are checked.
    const char16_t dec = c.Separators.Decimal;
    const char16_t thou = c.Separators.Thousand;
    auto plain = [](char16_t s) { return !IsDigit(s) && s != u'-' && s != u'E'; };
    if (dec != thou && plain(dec) && plain(thou)) {
        std::u16string standard;
        for (const char16_t ch : number) {
            if (ch == thou) {
                standard += u',';
            } else if (ch == dec) {
                standard += u'.';
            } else {
                CHECK(IsDigit(ch) || ch == u'-' || ch == u'E');
                standard += ch;
            }
        }
        CheckNumberLayout(standard, f.ScaledPosition);
    } else {
        for (const char16_t ch : number) {
            CHECK(IsDigit(ch) || ch == u'-' || ch == u'E' || ch == dec || ch == thou);
        }
    }
    currentText = nullptr;
}

// ---------------------------------------------------------------------------------------------

bool SameResult(const TDecodedFrame& a, const TDecodedFrame& b) {
    auto sameScaled = [](double x, double y) {
        return std::memcmp(&x, &y, sizeof x) == 0;
    };
    return a.Outcome == b.Outcome && a.CleanText == b.CleanText && a.Word == b.Word &&
           a.BitsText == b.BitsText && a.AckLength == b.AckLength &&
           a.PositionRaw == b.PositionRaw && a.StatusBits == b.StatusBits &&
           a.CrcReceived == b.CrcReceived && a.CrcNonInverted == b.CrcNonInverted &&
           a.CrcCalculated == b.CrcCalculated && a.CrcOk == b.CrcOk &&
           a.Truncated == b.Truncated && sameScaled(a.ScaledPosition, b.ScaledPosition) &&
           a.AckText == b.AckText && a.CrcReceivedText == b.CrcReceivedText &&
           a.CrcNonInvertedText == b.CrcNonInvertedText &&
           a.CrcCalculatedText == b.CrcCalculatedText && a.StatusText == b.StatusText &&
           a.PositionText == b.PositionText && a.ScaledText == b.ScaledText;
}

void CheckDecoded(const TDecodedFrame& f, const TReference& ref, const TFuzzCase& c) {
    const std::int32_t n = c.PositionLength;

    // Properties that hold for every position length.
    CHECK(f.AckLength >= 2 && f.AckLength <= 63);
    CHECK(f.StatusBits < 4);
    CHECK(f.CrcReceived < 64);
    CHECK(f.CrcNonInverted < 64);
    CHECK(f.CrcCalculated < 64);
    CHECK_EQ(static_cast<std::uint64_t>(f.CrcNonInverted), (~static_cast<std::uint64_t>(f.CrcReceived)) & 0x3F);
    CHECK(!(f.CrcOk && f.Truncated));
    CHECK(!f.CrcOk || f.CrcCalculated == f.CrcNonInverted);
    CHECK(std::isfinite(f.ScaledPosition));
    const double expectedScaled = static_cast<double>(f.PositionRaw) *
                                  (static_cast<double>(c.Numerator) / static_cast<double>(c.Denominator));
    CHECK_EQ(f.ScaledPosition, expectedScaled);

    CHECK_EQ(f.AckText, Ascii(std::to_string(f.AckLength) + " bits"));
    CHECK_EQ(f.CrcReceivedText, HexText(f.CrcReceived));
    CHECK_EQ(f.CrcNonInvertedText, HexText(f.CrcNonInverted));
    CHECK_EQ(f.CrcCalculatedText, HexText(f.CrcCalculated));
    static const char16_t* const statusTexts[4] = {u"00 Error Warning", u"01 Error",
                                                   u"10 Warning", u"11"};
    CHECK_EQ(f.StatusText, std::u16string(statusTexts[f.StatusBits & 3]));
    CHECK_EQ(f.PositionText, Ascii(std::to_string(f.PositionRaw)));
    CheckScaledText(f, c);

    // The start bit does not depend on the position length.
    CHECK_EQ(static_cast<std::uint64_t>(f.AckLength), static_cast<std::uint64_t>(ref.AckLength));

    if (!ref.FieldsSet) {
        return;
    }
    CHECK(f.PositionRaw < (std::uint64_t{1} << n));
    CHECK_EQ(f.PositionRaw, ref.PositionRaw);
    CHECK_EQ(static_cast<std::uint64_t>(f.StatusBits), static_cast<std::uint64_t>(ref.StatusBits));
    CHECK_EQ(static_cast<std::uint64_t>(f.CrcReceived), static_cast<std::uint64_t>(ref.CrcReceived));
    CHECK_EQ(static_cast<std::uint64_t>(f.CrcNonInverted), static_cast<std::uint64_t>(ref.CrcNonInverted));
    CHECK_EQ(static_cast<std::uint64_t>(f.CrcCalculated), static_cast<std::uint64_t>(ref.CrcCalculated));
    CHECK_EQ(f.Truncated, ref.Truncated);
    CHECK_EQ(f.CrcOk, ref.CrcOk);
}

void CheckCase(const TFuzzCase& c) {
    const TReference ref = ReferenceDecode(c.Text, c.PositionLength);
    // A scale that is not finite is an error, and only a decoded frame gets scaled. With a
    // non-zero denominator the factor is at most 2^31 in size and the product stays finite;
    // with a zero denominator it is infinite or NaN whatever the position.
    const bool expectThrow = ref.Outcome == TDecodeOutcome::doDecoded && c.Denominator == 0;

    TDecodedFrame f;
    try {
        f = DecodeFrame(c.Text, c.PositionLength, c.Numerator, c.Denominator, c.Unit, c.Separators);
    } catch (const std::domain_error& e) {
        CHECK(expectThrow);
        CHECK(std::strlen(e.what()) > 0);
        return;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "unexpected exception: %s\n", e.what());
        Fail("DecodeFrame threw something other than std::domain_error", __FILE__, __LINE__);
    } catch (...) {
        Fail("DecodeFrame threw a non-standard exception", __FILE__, __LINE__);
    }
    CHECK(!expectThrow);

    CHECK(f.Outcome == TDecodeOutcome::doInvalidInput || f.Outcome == TDecodeOutcome::doNoStartBit ||
          f.Outcome == TDecodeOutcome::doDecoded);
    for (const char16_t ch : f.CleanText) {
        CHECK(IsAsciiAlnum(ch));
    }
    CHECK_EQ(f.CleanText, ref.CleanText);
    CHECK_EQ(f.Outcome, ref.Outcome);

    if (f.Outcome != TDecodeOutcome::doInvalidInput) {
        CHECK(f.BitsText.size() == 64);
        std::uint64_t readBack = 0;
        for (const char16_t ch : f.BitsText) {
            CHECK(ch == u'0' || ch == u'1');
            readBack = readBack * 2 + (ch == u'1' ? 1 : 0);
        }
        CHECK_EQ(readBack, f.Word);
        CHECK_EQ(f.Word, ref.Word);
        CHECK_EQ(f.BitsText, ref.Bits);
    }
    if (f.Outcome == TDecodeOutcome::doDecoded) {
        CheckDecoded(f, ref, c);
    }

    // The decoder keeps no state: the same call gives the same record.
    const TDecodedFrame again =
        DecodeFrame(c.Text, c.PositionLength, c.Numerator, c.Denominator, c.Unit, c.Separators);
    CHECK(SameResult(f, again));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const TFuzzCase c = MapBytes(data, size);
    currentCase = &c;
    CheckCase(c);
    currentCase = nullptr;
    return 0;
}
