#include "cli/scan.h"

#include "cli/textout.h"

#include <algorithm>
#include <bit>

TScanner::TScanner(std::uint32_t extraPolynomial, std::uint32_t crcStart) : FCrcStart(crcStart) {
    std::vector<std::uint32_t> wanted(std::begin(ScanPolynomials), std::end(ScanPolynomials));
    if (extraPolynomial != 0 && std::find(wanted.begin(), wanted.end(), extraPolynomial) == wanted.end()) {
        wanted.push_back(extraPolynomial);
    }
    for (const std::uint32_t poly : wanted) {
        TFrameLayoutParams params;
        params.MultiTurnBits = 0;
        params.StatusBits = 2;
        params.CrcPolynomial = poly;
        params.CrcStart = crcStart;
        params.CrcInverted = true;
        if (!TFrameLayout::CheckParams(params).empty()) {
            continue;
        }
        FPolynomials.push_back(poly);
        const auto crc = std::make_shared<const TBissCrc>(poly);
        for (std::int32_t n = 1; n <= MaxLength; ++n) {
            params.PositionBits = n;
            FLayouts.emplace_back(params, crc);
        }
    }
}

void TScanner::CountFrame(const TCaptureFrame& frame, std::string_view input,
                          std::vector<std::uint64_t>& counters) const {
    if (frame.Kind == TCaptureKind::ckHex || frame.Kind == TCaptureKind::ckBits) {
        TFrameBits bits;
        const bool read = frame.Kind == TCaptureKind::ckHex
                              ? ParseFrameHex(input, bits)
                              : ParseFrameBitsHex(input, frame.BitCount, bits);
        if (!read) {
            return;
        }
        for (std::size_t p = 0; p < FPolynomials.size(); ++p) {
            for (std::int32_t n = 1; n <= MaxLength; ++n) {
                const TFrameLayout& layout = FLayouts[p * MaxLength + static_cast<std::size_t>(n - 1)];
                const TFrameFields f = DecodeFrameBits(layout, bits);
                if (f.Outcome != TDecodeOutcome::doDecoded) {
                    return; // no start bit under any layout
                }
                if (f.Truncated) {
                    break; // longer data does not fit either
                }
                counters[Index(p, n, true)] += f.CrcOk ? 1 : 0;
                counters[Index(p, n, false)] += f.CrcCalculated == f.CrcReceived ? 1 : 0;
            }
        }
    } else if (frame.Kind == TCaptureKind::ckBissFields) {
        // The analyzer cut the fields already: every length that holds the data word.
        const std::int32_t needed = std::max(1, static_cast<std::int32_t>(std::bit_width(frame.Data.Value)));
        for (std::size_t p = 0; p < FPolynomials.size(); ++p) {
            for (std::int32_t n = needed; n <= MaxLength; ++n) {
                const TFrameLayout& layout = FLayouts[p * MaxLength + static_cast<std::size_t>(n - 1)];
                const TFrameFields f = DecodeFrameData(layout, frame.Data);
                counters[Index(p, n, true)] += f.CrcOk ? 1 : 0;
                counters[Index(p, n, false)] += f.CrcCalculated == f.CrcReceived ? 1 : 0;
            }
        }
    }
}

std::vector<TScanCandidate> TScanner::Candidates(const std::vector<std::uint64_t>& counters) const {
    std::vector<TScanCandidate> candidates;
    for (std::size_t p = 0; p < FPolynomials.size(); ++p) {
        for (const bool inverted : {true, false}) {
            for (std::int32_t n = 1; n <= MaxLength; ++n) {
                const std::uint64_t passed = counters[Index(p, n, inverted)];
                if (passed > 0) {
                    candidates.push_back({n, FPolynomials[p], FCrcStart, inverted, passed});
                }
            }
        }
    }
    // Already in polynomial, inversion and length order; a stable sort keeps that within ties.
    // Shorter lengths before longer ones: frames padded with zeros after their CRC pass at some
    // longer lengths of their own polynomial whatever their data, never at shorter ones.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const TScanCandidate& a, const TScanCandidate& b) {
                         if (a.Passed != b.Passed) {
                             return a.Passed > b.Passed;
                         }
                         const bool aDefault = a.Crc == 0x43 && a.CrcInverted;
                         const bool bDefault = b.Crc == 0x43 && b.CrcInverted;
                         if (aDefault != bDefault) {
                             return aDefault;
                         }
                         return a.Length < b.Length;
                     });
    return candidates;
}

std::string_view ScanLengthNote() {
    return "The CRC covers multi-turn, single-turn and status bits alike, so each length is the\n"
           "total data length written as single-turn bits with 2 status bits and no multi-turn\n"
           "bits (-n LENGTH --status-bits 2 --multiturn 0); the same total split otherwise\n"
           "(-n LENGTH-M --multiturn M, or other status bits) fits the same frames.\n";
}

std::string FormatScan(const std::vector<TScanCandidate>& candidates, std::uint64_t frames,
                       TOutputFormat format, std::size_t tableRows) {
    std::string text;
    char number[MaxNumberChars];
    auto hex = [&number](std::uint64_t value) {
        return std::string(number, WriteHex(number, value, 1));
    };
    switch (format) {
    case TOutputFormat::ofJsonl:
        for (const TScanCandidate& c : candidates) {
            text += "{\"length\":" + std::to_string(c.Length) + ",\"crc\":" + std::to_string(c.Crc) +
                    ",\"crc_start\":" + std::to_string(c.CrcStart) + ",\"crc_inverted\":" +
                    (c.CrcInverted ? "true" : "false") + ",\"passed\":" + std::to_string(c.Passed) +
                    ",\"frames\":" + std::to_string(frames) + "}\n";
        }
        break;
    case TOutputFormat::ofCsv:
        text = "length,crc,crc_start,crc_inverted,passed,frames\n";
        for (const TScanCandidate& c : candidates) {
            text += std::to_string(c.Length) + ',' + std::to_string(c.Crc) + ',' +
                    std::to_string(c.CrcStart) + ',' + (c.CrcInverted ? "true" : "false") + ',' +
                    std::to_string(c.Passed) + ',' + std::to_string(frames) + '\n';
        }
        break;
    case TOutputFormat::ofTable: {
        text = ScanLengthNote();
        text += '\n';
        if (candidates.empty()) {
            text += "No layout passes on any frame.\n";
            break;
        }
        const std::string framesText = std::to_string(frames);
        const std::size_t passedWidth = std::max<std::size_t>(6, framesText.size());
        auto row = [&](std::string_view length, std::string_view crc, std::string_view start,
                       std::string_view inverted, std::string_view passed, std::string_view of) {
            auto cell = [&text](std::string_view value, std::size_t width, bool right) {
                const std::size_t pad = width > value.size() ? width - value.size() : 0;
                if (right) {
                    text.append(pad, ' ');
                }
                text += value;
                if (!right) {
                    text.append(pad, ' ');
                }
            };
            cell(length, 6, true);
            text += "  ";
            cell(crc, 7, false);
            text += "  ";
            cell(start, 9, false);
            text += "  ";
            cell(inverted, 12, false);
            text += "  ";
            cell(passed, passedWidth, true);
            text += "  ";
            text += of;
            text += '\n';
        };
        row("length", "crc", "crc_start", "crc_inverted", "passed", "frames");
        const std::size_t shown = std::min(candidates.size(), tableRows);
        for (std::size_t i = 0; i < shown; ++i) {
            const TScanCandidate& c = candidates[i];
            row(std::to_string(c.Length), hex(c.Crc), hex(c.CrcStart), c.CrcInverted ? "yes" : "no",
                std::to_string(c.Passed), framesText);
        }
        if (shown < candidates.size()) {
            text += "... " + std::to_string(candidates.size() - shown) +
                    " more candidates passed on fewer frames (--format csv lists them all).\n";
        }
        break;
    }
    }
    return text;
}

namespace {

struct TScanResult final : TBatchResult {
    std::vector<std::uint64_t> Counters;
};

} // namespace

TScanSink::TScanSink(TOutputFormat format, std::uint32_t extraPolynomial, std::uint32_t crcStart)
    : FFormat(format), FScanner(extraPolynomial, crcStart), FCounters(FScanner.CounterCount(), 0) {}

std::unique_ptr<TBatchResult> TScanSink::NewResult() const { return std::make_unique<TScanResult>(); }

void TScanSink::Process(const TCaptureBatch& batch, TBatchResult& result) const {
    auto& r = static_cast<TScanResult&>(result);
    r.Counters.assign(FScanner.CounterCount(), 0);
    for (const TCaptureFrame& frame : batch.Frames) {
        FScanner.CountFrame(frame, FrameInput(batch, frame), r.Counters);
    }
}

void TScanSink::Consume(const TCaptureBatch&, const TBatchResult& result, std::uint64_t,
                        const TSinkInput&, TSinkOutput&) {
    const auto& r = static_cast<const TScanResult&>(result);
    for (std::size_t i = 0; i < FCounters.size(); ++i) {
        FCounters[i] += r.Counters[i];
    }
}

int TScanSink::Finish(std::uint64_t frames, TSinkOutput& out) {
    const std::vector<TScanCandidate> candidates = FScanner.Candidates(FCounters);
    out.Write(FormatScan(candidates, frames, FFormat));
    if (frames > 0 && frames < 4) {
        out.Message("warning: only " + std::to_string(frames) + (frames == 1 ? " frame" : " frames") +
                    ": few frames fit several layouts (one frame of the window's layout passes at "
                    "17, 26 and 41 bits); give at least 4");
    }
    return frames > 0 && !candidates.empty() && candidates.front().Passed == frames ? 0 : 1;
}
