#include "decode/bisscrc.h"

#include <array>
#include <bit>
#include <charconv>
#include <stdexcept>
#include <string>

namespace {

std::string HexText(std::uint32_t value) {
    std::array<char, 12> digits{};
    const auto res = std::to_chars(digits.data(), digits.data() + digits.size(), value, 16);
    std::string text(digits.data(), res.ptr);
    for (char& c : text) {
        c = static_cast<char>(c >= 'a' ? c - 'a' + 'A' : c);
    }
    return "0x" + text;
}

int Degree(std::uint32_t polynomial) {
    return polynomial == 0 ? -1 : 31 - std::countl_zero(polynomial);
}

} // namespace

std::string TBissCrc::CheckPolynomial(std::uint32_t polynomial) {
    const int degree = Degree(polynomial);
    if (degree < 1 || degree > 16) {
        return "CRC polynomial " + HexText(polynomial) +
               " is not of degree 1 to 16; write it in BiSS notation with its top bit, "
               "e.g. 0x43 for x^6 + x + 1 or 0x190D9 for the 16-bit CRC";
    }
    return {};
}

std::string FormatCrcStartProblem(std::uint32_t start, std::uint32_t polynomial) {
    const int degree = Degree(polynomial);
    if (degree >= 1 && degree <= 16 && start >= (std::uint32_t{1} << degree)) {
        return "CRC start value " + HexText(start) + " does not fit in the " +
               std::to_string(degree) + "-bit CRC of polynomial " + HexText(polynomial);
    }
    return {};
}

TBissCrc::TBissCrc(std::uint32_t polynomial) : FPolynomial(polynomial) {
    if (const std::string problem = CheckPolynomial(polynomial); !problem.empty()) {
        throw std::invalid_argument(problem);
    }
    const int degree = Degree(polynomial);
    FWidth = degree;
    // The register is kept left-aligned in 16 bits, so one table serves every width.
    const auto low = static_cast<std::uint32_t>(polynomial & ((1U << degree) - 1U));
    const std::uint32_t aligned = low << (16 - degree);
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t reg = b << 8;
        for (int bit = 0; bit < 8; ++bit) {
            const bool out = (reg & 0x8000U) != 0;
            reg = (reg << 1) & 0xFFFFU;
            if (out) {
                reg ^= aligned;
            }
        }
        FSliced[0][b] = static_cast<std::uint16_t>(reg);
    }
    for (std::size_t j = 1; j < FSliced.size(); ++j) {
        for (std::size_t b = 0; b < 256; ++b) {
            const std::uint32_t prev = FSliced[j - 1][b];
            FSliced[j][b] = static_cast<std::uint16_t>(((prev << 8) & 0xFFFFU) ^ FSliced[0][prev >> 8]);
        }
    }
}

std::uint16_t TBissCrc::Calc(std::uint64_t high, std::uint64_t low, std::int32_t bits,
                             std::uint16_t start) const noexcept {
    if (bits <= 0) {
        return static_cast<std::uint16_t>(start & Mask());
    }
    if (bits > 128) {
        bits = 128;
    }
    // Keep only the data bits, then feed whole bytes from the top: the leading zero bits of the
    // top byte leave a zero register as it is, and the start value is added through linearity.
    if (bits <= 64) {
        high = 0;
        if (bits < 64) {
            low &= (std::uint64_t{1} << bits) - 1;
        }
    } else if (bits < 128) {
        high &= (std::uint64_t{1} << (bits - 64)) - 1;
    }
    const std::int32_t bytes = (bits + 7) / 8;
    std::uint32_t reg = 0;
    for (std::int32_t j = bytes - 1; j >= 0; --j) {
        const std::uint64_t word = j >= 8 ? high : low;
        const auto byte = static_cast<std::uint32_t>((word >> (8 * (j % 8))) & 0xFF);
        reg = ((reg << 8) & 0xFFFFU) ^ FSliced[0][(reg >> 8) ^ byte];
    }
    const auto fromZero = static_cast<std::uint16_t>(reg >> (16 - FWidth));
    return static_cast<std::uint16_t>(fromZero ^ AdvanceZeros(start, bits));
}

std::uint16_t TBissCrc::AdvanceZeros(std::uint16_t start, std::int32_t bits) const noexcept {
    const std::uint32_t mask = Mask();
    const std::uint32_t poly = FPolynomial & mask;
    std::uint32_t reg = start & mask;
    for (std::int32_t i = 0; i < bits && reg != 0; ++i) {
        const bool out = ((reg >> (FWidth - 1)) & 1U) != 0;
        reg = (reg << 1) & mask;
        if (out) {
            reg ^= poly;
        }
    }
    return static_cast<std::uint16_t>(reg);
}
