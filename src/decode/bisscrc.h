// The CRC of BiSS single-cycle data for any generator polynomial of degree 1 to 16: computed
// most significant bit first, no reflection, from a register start value, without a final
// inversion (a frame that sends its CRC inverted is handled by the frame layout).
#pragma once

#include <array>
#include <cstdint>
#include <string>

class TBissCrc {
public:
    // Most data bits that the sliced tables cover in one call of CalcZeroStart: a frame's
    // multi-turn, single-turn and status bits together are at most 66.
    static constexpr std::int32_t MaxSlicedBits = 72;

    // `polynomial` in BiSS notation, with its top bit: 0x43 is x^6 + x + 1, 0x190D9 a 16-bit
    // CRC. The width is its degree. Throws std::invalid_argument for a degree outside 1 to 16.
    explicit TBissCrc(std::uint32_t polynomial);

    // Why `polynomial` cannot be a BiSS CRC, or an empty text when it can.
    static std::string CheckPolynomial(std::uint32_t polynomial);

    std::uint32_t Polynomial() const { return FPolynomial; }
    std::int32_t Width() const { return FWidth; }
    std::uint16_t Mask() const { return static_cast<std::uint16_t>((1U << FWidth) - 1U); }

    // CRC of the low `bits` bits (0 to 128) of the 128-bit number high:low, most significant
    // first, the register starting at `start` (its bits above the width are ignored). Bits
    // above the low `bits` are ignored too. One table lookup per byte.
    std::uint16_t Calc(std::uint64_t high, std::uint64_t low, std::int32_t bits,
                       std::uint16_t start) const noexcept;

    // CRC from a zero register over the number high:low of at most MaxSlicedBits bits, given in
    // `bytes` (1 to 9) whole bytes: the bits above the data must be zero, as leading zero bits
    // leave a zero register unchanged. One independent table lookup per byte (slicing), so the
    // lookups do not wait on each other.
    std::uint16_t CalcZeroStart(std::uint64_t high, std::uint64_t low,
                                std::int32_t bytes) const noexcept {
        std::uint32_t reg = 0;
        // Unrolled from the top byte down: a layout always takes the same entry point.
        switch (bytes) {
        case 9:
            reg ^= FSliced[8][high & 0xFF];
            [[fallthrough]];
        case 8:
            reg ^= FSliced[7][(low >> 56) & 0xFF];
            [[fallthrough]];
        case 7:
            reg ^= FSliced[6][(low >> 48) & 0xFF];
            [[fallthrough]];
        case 6:
            reg ^= FSliced[5][(low >> 40) & 0xFF];
            [[fallthrough]];
        case 5:
            reg ^= FSliced[4][(low >> 32) & 0xFF];
            [[fallthrough]];
        case 4:
            reg ^= FSliced[3][(low >> 24) & 0xFF];
            [[fallthrough]];
        case 3:
            reg ^= FSliced[2][(low >> 16) & 0xFF];
            [[fallthrough]];
        case 2:
            reg ^= FSliced[1][(low >> 8) & 0xFF];
            [[fallthrough]];
        case 1:
            reg ^= FSliced[0][low & 0xFF];
            break;
        default:
            break;
        }
        return static_cast<std::uint16_t>(reg >> (16 - FWidth));
    }

    // The register after `bits` zero bits have been fed into it from `start`. A CRC is linear:
    // the CRC of some data from `start` is the CRC of the same data from zero XOR this value.
    std::uint16_t AdvanceZeros(std::uint16_t start, std::int32_t bits) const noexcept;

private:
    std::uint32_t FPolynomial = 0;
    std::int32_t FWidth = 0;
    // FSliced[j][b]: the register, left-aligned in 16 bits, after byte b followed by j zero
    // bytes was fed into a zero register. FSliced[0] is the classic byte-wise table.
    std::array<std::array<std::uint16_t, 256>, 9> FSliced{};
};

// Why `start` cannot be the register start value of the CRC of `polynomial` (it has more bits
// than the CRC), or an empty text when it can or when the polynomial itself is not valid.
std::string FormatCrcStartProblem(std::uint32_t start, std::uint32_t polynomial);
