// Text to frame bits: how a captured frame written as hexadecimal text becomes the sequence of
// received bits s0 ... s(L-1) that the frame decoder reads.
//
// Cleaning keeps the ASCII letters and digits, in their order, and removes the first "0x"
// (digit zero, lowercase x) wherever it stands; case is kept. The cleaned text is then read as
// hexadecimal, each digit four received bits, the first digit's top bit received first:
// - at most 16 significant digits: the 64-bit frame word, right-aligned (leading zeros
//   dropped, missing leading digits read as zero bits), L = 64;
// - more: every digit as written, leading zeros included, L = 4 x digits, at most 256 bits;
//   leading zeros beyond 64 digits are dropped, and more than 64 significant digits is not a
//   frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Received bits s0 ... s(Length-1), packed most significant first: s(i) is bit 63 - i % 64 of
// Words[i / 64]. Bits at and beyond Length are zero.
struct TFrameBits {
    static constexpr std::int32_t MaxLength = 256;

    std::array<std::uint64_t, 4> Words{};
    std::int32_t Length = 0;

    bool Bit(std::int32_t index) const {
        if (index < 0 || index >= Length) {
            return false;
        }
        return ((Words[static_cast<std::size_t>(index) / 64] >> (63 - index % 64)) & 1U) != 0;
    }
};

// The frame word of a window-sized frame: bit 63 is s0.
inline TFrameBits FrameBitsFromWord(std::uint64_t word) {
    TFrameBits bits;
    bits.Words[0] = word;
    bits.Length = 64;
    return bits;
}

// Cleans `text` (see above) and returns the result.
std::u16string CleanFrameText(std::u16string_view text);
// The same written into `out`, which has room for text.size() characters; returns its length.
std::size_t CleanFrameTextInto(std::u16string_view text, char16_t* out) noexcept;
std::string CleanFrameText(std::string_view text);

// Appends the cleaned form of `text` to `out`, which may already hold other text; the "0x"
// searched for and removed is the first one of the appended part. Bytes of 0x80 and above
// (UTF-8 sequences) are dropped like every other character that is not an ASCII letter or
// digit, so the result equals that of the UTF-16 overload on the decoded text.
void AppendCleanFrameText(std::string_view text, std::string& out);

// Reads cleaned hexadecimal text as frame bits (see above). Returns false, leaving `bits`
// unspecified, for an empty text, a character that is not a hexadecimal digit, or more than
// 64 significant digits.
bool ParseFrameHex(std::u16string_view clean, TFrameBits& bits) noexcept;
bool ParseFrameHex(std::string_view clean, TFrameBits& bits) noexcept;

// Reads the first `bitCount` bits of hexadecimal digits as received bits, left-aligned: bit 0
// is the top bit of the first digit, Length = bitCount (the bits of a signal capture's frame,
// whose digits are filled with zeros after the last bit). Unlike ParseFrameHex no digit is
// dropped and no length is implied by the digits' count. Returns false, leaving `bits`
// unspecified, when bitCount is 0 or above TFrameBits::MaxLength, the text has fewer than
// (bitCount + 3) / 4 digits, or one of those is not a hexadecimal digit; digits after them are
// ignored.
bool ParseFrameBitsHex(std::string_view hex, std::int32_t bitCount, TFrameBits& bits) noexcept;
