#include "decode/framelayout.h"

#include <stdexcept>

TFrameLayout::TFrameLayout(const TFrameLayoutParams& params) : FParams(params) {
    if (const std::string problem = CheckParams(params); !problem.empty()) {
        throw std::invalid_argument(problem);
    }
    FCrc = std::make_shared<const TBissCrc>(params.CrcPolynomial);
    Prepare();
}

TFrameLayout::TFrameLayout(const TFrameLayoutParams& params, std::shared_ptr<const TBissCrc> crc)
    : FParams(params), FCrc(std::move(crc)) {
    if (const std::string problem = CheckParams(params); !problem.empty()) {
        throw std::invalid_argument(problem);
    }
    if (!FCrc || FCrc->Polynomial() != params.CrcPolynomial) {
        throw std::invalid_argument("the shared CRC is not the layout's: " +
                                    std::to_string(params.CrcPolynomial));
    }
    Prepare();
}

std::string TFrameLayout::CheckParams(const TFrameLayoutParams& p) {
    const std::int32_t m = p.MultiTurnBits;
    const std::int32_t n = p.PositionBits;
    if (m < 0 || m > 32) {
        return "multi-turn bits: " + std::to_string(m) + " is outside 0 to 32";
    }
    if (n < 1 || n > 64) {
        return "single-turn position bits: " + std::to_string(n) + " is outside 1 to 64";
    }
    if (m + n > 64) {
        return "multi-turn and single-turn bits: " + std::to_string(m) + " + " +
               std::to_string(n) + " = " + std::to_string(m + n) +
               " is more than 64, the most one count can hold";
    }
    if (p.StatusBits < 0 || p.StatusBits > 2) {
        return "status bits: " + std::to_string(p.StatusBits) +
               " is not 0, 1 (error bit) or 2 (error and warning bits)";
    }
    if (std::string problem = TBissCrc::CheckPolynomial(p.CrcPolynomial); !problem.empty()) {
        return problem;
    }
    if (std::string problem = FormatCrcStartProblem(p.CrcStart, p.CrcPolynomial); !problem.empty()) {
        return problem;
    }
    if (p.Coding != TPositionCoding::pcBinary && p.Coding != TPositionCoding::pcGray) {
        return "position coding: unknown value " + std::to_string(static_cast<int>(p.Coding));
    }
    return {};
}

void TFrameLayout::Prepare() {
    FValueBits = FParams.MultiTurnBits + FParams.PositionBits;
    FDataBits = FValueBits + FParams.StatusBits;
    FDataBytes = (FDataBits + 7) / 8;
    FCrcWidth = FCrc->Width();
    FCrcShift = static_cast<std::uint32_t>(64 - FCrcWidth);
    FFrameTail = 3 + FDataBits + FCrcWidth;
    FCrcMask = FCrc->Mask();
    FCrcInversion = FParams.CrcInverted ? FCrcMask : std::uint16_t{0};
    const std::int32_t k = FParams.StatusBits;
    FErrorBit = static_cast<std::uint8_t>(k >= 1 ? 1U << (k - 1) : 0U);
    FWarningBit = static_cast<std::uint8_t>(k == 2 ? 1U : 0U);
    FStartTerm = FCrc->AdvanceZeros(static_cast<std::uint16_t>(FParams.CrcStart), FDataBits);
    FPositionMask = FParams.PositionBits == 64 ? ~std::uint64_t{0}
                                               : (std::uint64_t{1} << FParams.PositionBits) - 1;
}


