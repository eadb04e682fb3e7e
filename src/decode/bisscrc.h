// The CRC of BiSS single-cycle data for any generator polynomial of degree 1 to 16: computed
// most significant bit first, no reflection, from a register start value, without a final
// inversion (a frame that sends its CRC inverted is handled by the frame layout).
#pragma once

#include <array>
#include <cstdint>

class TBissCrc {
public:
    // Most data bits that the sliced tables cover in one call of CalcZeroStart: a frame's
    // multi-turn, single-turn and status bits together are at most 66.
    static constexpr std::int32_t MaxSlicedBits = 72;

    // `polynomial` in BiSS notation, with its top bit: 0x43 is x^6 + x + 1, 0x190D9 a 16-bit
    // CRC. The width is its degree. Throws std::invalid_argument for a degree outside 1 to 16.
    explicit TBissCrc(std::uint32_t polynomial);

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
        for (std::int32_t j = 0; j < bytes && j < 8; ++j) {
            reg ^= FSliced[static_cast<std::size_t>(j)][(low >> (8 * j)) & 0xFF];
        }
        if (bytes > 8) {
            reg ^= FSliced[8][high & 0xFF];
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
