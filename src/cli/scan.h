// Finding the layout of an unknown encoder: every data length a frame can hold, for every CRC
// polynomial BiSS devices use, sent inverted or not, counted over the frames that decode with
// a good CRC. The CRC covers the multi-turn, single-turn and status bits alike, so a candidate
// is a total data length; it is reported as that many single-turn bits less the 2 status bits,
// without multi-turn bits.
#pragma once

#include "capture/capture.h"
#include "decode/framelayout.h"
#include "cli/records.h"
#include "cli/sink.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The polynomials of BiSS devices, the window's 0x43 first.
inline constexpr std::uint32_t ScanPolynomials[] = {0x43, 0x25, 0x97, 0x89, 0x12F, 0x190D9};

struct TScanCandidate {
    std::int32_t Length = 0; // single-turn bits, with 2 status bits and no multi-turn bits
    std::uint32_t Crc = 0;
    std::uint32_t CrcStart = 0;
    bool CrcInverted = true;
    std::uint64_t Passed = 0; // frames that decode with a good CRC
};

class TScanner {
public:
    // Tries ScanPolynomials and `extraPolynomial` when it is not 0 and not among them, from
    // the start value `crcStart`; polynomials too narrow to hold the start value are left out
    // (Polynomials() tells which remain).
    TScanner(std::uint32_t extraPolynomial, std::uint32_t crcStart);

    const std::vector<std::uint32_t>& Polynomials() const { return FPolynomials; }
    std::uint32_t CrcStart() const { return FCrcStart; }
    // The size of a counter array for CountFrame.
    std::size_t CounterCount() const { return FPolynomials.size() * 2 * MaxLength; }
    // Adds one to the counter of every candidate under which the frame decodes with a good CRC.
    void CountFrame(const TCaptureFrame& frame, std::string_view input,
                    std::vector<std::uint64_t>& counters) const;
    // The candidates that passed on at least one frame: most frames first, then the window's
    // 0x43 sent inverted, then shortest first, then in the order of the polynomials, then
    // inverted first.
    std::vector<TScanCandidate> Candidates(const std::vector<std::uint64_t>& counters) const;

private:
    static constexpr std::int32_t MaxLength = 64;
    std::size_t Index(std::size_t poly, std::int32_t length, bool inverted) const {
        return (poly * MaxLength + static_cast<std::size_t>(length - 1)) * 2 + (inverted ? 0 : 1);
    }

    std::vector<std::uint32_t> FPolynomials;
    std::uint32_t FCrcStart = 0;
    // FLayouts[poly * MaxLength + length - 1]: 2 status bits, no multi-turn bits, inverted.
    std::vector<TFrameLayout> FLayouts;
};

// The candidates as --scan writes them: a table (at most `tableRows` rows, with a note on
// what a length means and how many more there are), JSON lines with the keys length, crc,
// crc_start, crc_inverted, passed and frames, or CSV with those columns.
std::string FormatScan(const std::vector<TScanCandidate>& candidates, std::uint64_t frames,
                       TOutputFormat format, std::size_t tableRows = 20);
// The note the table starts with; on standard error for the other formats.
std::string_view ScanLengthNote();

// The scan sink: counts the frames under every candidate layout and writes the candidates at
// the end, with a warning when too few frames were read to tell layouts apart.
class TScanSink final : public TOutputSink {
public:
    TScanSink(TOutputFormat format, std::uint32_t extraPolynomial, std::uint32_t crcStart);

    std::unique_ptr<TBatchResult> NewResult() const override;
    void Process(const TCaptureBatch& batch, TBatchResult& result) const override;
    void BeginInput(const TSinkInput&, TSinkOutput&) override {}
    void Consume(const TCaptureBatch& batch, const TBatchResult& result, std::uint64_t sequence,
                 const TSinkInput& input, TSinkOutput& out) override;
    int Finish(std::uint64_t frames, TSinkOutput& out) override;

    const TScanner& Scanner() const { return FScanner; }
    const std::vector<std::uint64_t>& Counters() const { return FCounters; }

private:
    TOutputFormat FFormat;
    TScanner FScanner;
    std::vector<std::uint64_t> FCounters;
};
