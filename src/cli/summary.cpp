#include "cli/summary.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

namespace {

std::uint64_t Distance(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : b - a; }

struct TSummaryItem {
    std::string_view Key;   // JSON key and CSV column
    std::string_view Label; // table row
    std::optional<std::string> Value;
    std::optional<double> Scaled; // table only
};

std::string Number(std::uint64_t value) { return std::to_string(value); }

// The shortest text that reads back as `value`.
std::string Real(double value) {
    char text[MaxNumberChars];
    return std::string(text, WriteShortestDouble(text, value));
}

// Powers of ten that doubles hold exactly.
double PowerOfTen(int exponent) {
    static constexpr double Exact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    return exponent >= 0 && exponent <= 22 ? Exact[exponent] : std::pow(10.0, exponent);
}

// `mantissa` x 10^exponent, correctly rounded where the power of ten is exact.
double Scaled(double mantissa, int exponent) {
    return exponent >= 0 ? mantissa * PowerOfTen(exponent) : mantissa / PowerOfTen(-exponent);
}

// The grid's keys: the decimal exponent (moved up to stay positive) and the 5 digits.
constexpr std::int32_t ExponentBias = 400;
constexpr std::int32_t GridStep = 100000;

std::string CountText(std::uint64_t key, const TFrameLayoutParams& layout) {
    const std::uint64_t count = CountFromKey(key, layout.Signed);
    return layout.Signed ? std::to_string(AsSigned(count)) : std::to_string(count);
}

} // namespace

void TSummary::Add(const TDecodedRecord& record, bool isSigned) {
    if (record.Cut) {
        return;
    }
    const TFrameFields& f = record.Fields;
    ++Frames;
    if (f.Outcome == TDecodeOutcome::doInvalidInput) {
        ++Invalid;
        return;
    }
    if (f.Outcome == TDecodeOutcome::doNoStartBit) {
        ++NoStartBit;
        return;
    }
    ++Decoded;
    CrcOk += f.CrcOk ? 1 : 0;
    CrcError += f.CrcOk ? 0 : 1;
    Truncated += f.Truncated ? 1 : 0;
    Errors += f.Error ? 1 : 0;
    Warnings += f.Warning ? 1 : 0;
    if (record.HasAck) {
        AckMin = HasAck ? std::min(AckMin, f.AckLength) : f.AckLength;
        AckMax = HasAck ? std::max(AckMax, f.AckLength) : f.AckLength;
        HasAck = true;
    }
    if (f.CrcOk) {
        const std::uint64_t key = CountKey(f.Count, isSigned);
        if (HasGood) {
            PositionMin = std::min(PositionMin, key);
            PositionMax = std::max(PositionMax, key);
            LargestJump = std::max(LargestJump, Distance(key, LastGood));
        } else {
            PositionMin = PositionMax = FirstGood = key;
            HasGood = true;
        }
        LastGood = key;
    }
}

void TSummary::Merge(const TSummary& next, bool continued) {
    Frames += next.Frames;
    Decoded += next.Decoded;
    Invalid += next.Invalid;
    NoStartBit += next.NoStartBit;
    CrcOk += next.CrcOk;
    CrcError += next.CrcError;
    Truncated += next.Truncated;
    Errors += next.Errors;
    Warnings += next.Warnings;
    if (next.HasAck) {
        AckMin = HasAck ? std::min(AckMin, next.AckMin) : next.AckMin;
        AckMax = HasAck ? std::max(AckMax, next.AckMax) : next.AckMax;
        HasAck = true;
    }
    if (next.HasGood) {
        if (HasGood) {
            PositionMin = std::min(PositionMin, next.PositionMin);
            PositionMax = std::max(PositionMax, next.PositionMax);
            LargestJump = std::max(LargestJump, next.LargestJump);
            if (continued) {
                LargestJump = std::max(LargestJump, Distance(next.FirstGood, LastGood));
            }
        } else {
            PositionMin = next.PositionMin;
            PositionMax = next.PositionMax;
            FirstGood = next.FirstGood;
            LargestJump = next.LargestJump;
            HasGood = true;
        }
        LastGood = next.LastGood;
    }
}

std::int32_t TGridMedian::Key(double value) {
    const int low = TGridMedian::Digits - 1;
    int exponent = static_cast<int>(std::floor(std::log10(value)));
    auto mantissa = std::llround(Scaled(value, low - exponent));
    // log10 can land one off near a power of ten: bring the digits into 10000 to 99999.
    if (mantissa >= GridStep) {
        ++exponent;
        mantissa = std::llround(Scaled(value, low - exponent));
    } else if (mantissa < GridStep / 10) {
        --exponent;
        mantissa = std::llround(Scaled(value, low - exponent));
    }
    if (mantissa >= GridStep) { // 99999.5 rounds up to the next decade
        ++exponent;
        mantissa = GridStep / 10;
    }
    return (exponent + ExponentBias) * GridStep + static_cast<std::int32_t>(mantissa);
}

double TGridMedian::FromKey(std::int32_t key) {
    const int exponent = key / GridStep - ExponentBias;
    return Scaled(static_cast<double>(key % GridStep), exponent - (TGridMedian::Digits - 1));
}

double TGridMedian::Rounded(double value) { return FromKey(Key(value)); }

void TGridMedian::Add(double value) {
    if (!(value > 0.0) || !std::isfinite(value)) {
        return;
    }
    ++FCounts[Key(value)];
    FMin = FTotal == 0 ? value : std::min(FMin, value);
    FMax = FTotal == 0 ? value : std::max(FMax, value);
    ++FTotal;
}

void TGridMedian::Merge(const TGridMedian& other) {
    if (other.FTotal == 0) {
        return;
    }
    for (const auto& [key, count] : other.FCounts) {
        FCounts[key] += count;
    }
    FMin = FTotal == 0 ? other.FMin : std::min(FMin, other.FMin);
    FMax = FTotal == 0 ? other.FMax : std::max(FMax, other.FMax);
    FTotal += other.FTotal;
}

double TGridMedian::Median() const {
    // The lower median is the value of rank (total + 1) / 2, counted from 1.
    const std::uint64_t rank = (FTotal + 1) / 2;
    std::uint64_t seen = 0;
    for (const auto& [key, count] : FCounts) {
        seen += count;
        if (seen >= rank) {
            return FromKey(key);
        }
    }
    return 0.0;
}

void TSignalSummary::Add(const TCaptureFrame& frame, const TDecodedRecord& record,
                         const TFrameTiming& timing) {
    if (HasFrames) {
        LargestGap = std::max(LargestGap, timing.Time - LastStart);
    } else {
        FirstStart = timing.Time;
        HasFrames = true;
    }
    LastStart = timing.Time;
    if (frame.Kind == TCaptureKind::ckCut) {
        ++CutFrames;
        return;
    }
    if (frame.Kind != TCaptureKind::ckBits) {
        return;
    }
    ClockHz.Add(timing.ClockHz);
    if (record.Fields.Outcome == TDecodeOutcome::doDecoded) {
        LineDelay.Add(timing.LineDelay);
        if (Decoded == 0) {
            FirstDecoded = timing.Time;
        }
        LastDecoded = timing.Time;
        ++Decoded;
    }
}

void TSignalSummary::Merge(const TSignalSummary& next, bool continued) {
    if (!continued) {
        EndCapture();
    }
    if (next.HasFrames) {
        if (HasFrames) {
            LargestGap = std::max(LargestGap, next.LargestGap);
            if (continued) {
                LargestGap = std::max(LargestGap, next.FirstStart - LastStart);
            }
        } else {
            FirstStart = next.FirstStart;
            LargestGap = next.LargestGap;
            HasFrames = true;
        }
        LastStart = next.LastStart;
    }
    if (next.Decoded > 0) {
        if (Decoded == 0) {
            FirstDecoded = next.FirstDecoded;
        }
        LastDecoded = next.LastDecoded;
        Decoded += next.Decoded;
    }
    RateIntervals += next.RateIntervals;
    RateSpan += next.RateSpan;
    ClockHz.Merge(next.ClockHz);
    LineDelay.Merge(next.LineDelay);
    CutFrames += next.CutFrames;
    if (next.HasStats) {
        HasStats = true;
        Duration += next.Duration;
        Glitches += next.Glitches;
        Cut += next.Cut;
    }
}

void TSignalSummary::EndCapture() {
    if (Decoded > 1) {
        RateIntervals += Decoded - 1;
        RateSpan += LastDecoded - FirstDecoded;
    }
    Decoded = 0;
}

double TSignalSummary::FrameRate() const {
    return RateIntervals > 0 && RateSpan > 0 ? static_cast<double>(RateIntervals) / RateSpan : 0.0;
}

std::string FormatSummary(const TSummary& s, TOutputFormat format,
                          const TFrameLayoutParams& layout, const TScale& scale,
                          const TSignalSummary* signal) {
    auto scaled = [&](std::uint64_t key) -> std::optional<double> {
        if (!scale.Enabled) {
            return std::nullopt;
        }
        return CountAsDouble(layout, CountFromKey(key, layout.Signed)) * scale.Factor;
    };
    const double jumpScaled = static_cast<double>(s.LargestJump) * scale.Factor;

    std::vector<TSummaryItem> items = {
        {"frames", "frames", Number(s.Frames), {}},
        {"decoded", "decoded", Number(s.Decoded), {}},
        {"invalid", "invalid", Number(s.Invalid), {}},
        {"no_start_bit", "no start bit", Number(s.NoStartBit), {}},
        {"crc_ok", "CRC ok", Number(s.CrcOk), {}},
        {"crc_error", "CRC error", Number(s.CrcError), {}},
        {"truncated", "truncated", Number(s.Truncated), {}},
        {"errors", "error flags", Number(s.Errors), {}},
        {"warnings", "warning flags", Number(s.Warnings), {}},
        {"ack_min", "ACK length min", {}, {}},
        {"ack_max", "ACK length max", {}, {}},
        {"position_min", "position min", {}, {}},
        {"position_max", "position max", {}, {}},
        {"largest_jump", "largest jump", {}, {}},
    };
    if (s.HasAck) {
        items[9].Value = std::to_string(s.AckMin);
        items[10].Value = std::to_string(s.AckMax);
    }
    if (s.HasGood) {
        items[11] = {"position_min", "position min", CountText(s.PositionMin, layout),
                     scaled(s.PositionMin)};
        items[12] = {"position_max", "position max", CountText(s.PositionMax, layout),
                     scaled(s.PositionMax)};
        items[13] = {"largest_jump", "largest jump", Number(s.LargestJump),
                     scale.Enabled ? std::optional<double>(jumpScaled) : std::nullopt};
    }
    if (signal != nullptr) {
        const TSignalSummary& g = *signal;
        // CSV and JSON are read back: the shortest text of the double. The table is read by
        // people: each kind of number by its rule (WriteTableSeconds and the like).
        using TWriter = char* (*)(char*, double);
        const bool table = format == TOutputFormat::ofTable;
        auto real = [table](bool known, double value, TWriter tableWriter) -> std::optional<std::string> {
            if (!known) {
                return std::nullopt;
            }
            if (!table) {
                return Real(value);
            }
            char text[MaxNumberChars];
            return std::string(text, tableWriter(text, value));
        };
        const TWriter asSeconds = WriteTableSeconds;
        const TWriter asHertz = WriteTableHertz;
        const TWriter asDelay = WriteTableDelay;
        auto count = [](bool known, std::uint64_t value) -> std::optional<std::string> {
            return known ? std::optional<std::string>(Number(value)) : std::nullopt;
        };
        const bool clock = !g.ClockHz.Empty();
        const bool delay = !g.LineDelay.Empty();
        const double rate = g.FrameRate();
        items.push_back({"duration_s", "duration (s)", real(g.HasStats, g.Duration, asSeconds), {}});
        items.push_back({"frame_rate_hz", "frame rate (Hz)", real(rate > 0, rate, asHertz), {}});
        items.push_back({"clock_hz_min", "clock min (Hz)", real(clock, g.ClockHz.Min(), asHertz), {}});
        items.push_back({"clock_hz_median", "clock median (Hz)", real(clock, g.ClockHz.Median(), asHertz), {}});
        items.push_back({"clock_hz_max", "clock max (Hz)", real(clock, g.ClockHz.Max(), asHertz), {}});
        items.push_back({"line_delay_s_min", "line delay min (s)", real(delay, g.LineDelay.Min(), asDelay), {}});
        items.push_back({"line_delay_s_median", "line delay median (s)", real(delay, g.LineDelay.Median(), asDelay), {}});
        items.push_back({"line_delay_s_max", "line delay max (s)", real(delay, g.LineDelay.Max(), asDelay), {}});
        items.push_back({"largest_gap_s", "largest gap (s)", real(g.HasFrames, g.LargestGap, asSeconds), {}});
        items.push_back({"glitches", "glitches ignored", count(g.HasStats, g.Glitches), {}});
        items.push_back({"cut", "frames cut", Number(g.HasStats ? g.Cut : g.CutFrames), {}});
    }

    std::string text;
    switch (format) {
    case TOutputFormat::ofJsonl:
        text = "{";
        for (const TSummaryItem& item : items) {
            text += '"';
            text += item.Key;
            text += "\":";
            text += item.Value.value_or("null");
            text += ',';
        }
        text.back() = '}';
        text += '\n';
        break;
    case TOutputFormat::ofCsv:
        for (const TSummaryItem& item : items) {
            text += item.Key;
            text += ',';
        }
        text.back() = '\n';
        for (const TSummaryItem& item : items) {
            text += item.Value.value_or("");
            text += ',';
        }
        text.back() = '\n';
        break;
    case TOutputFormat::ofTable: {
        std::size_t labelWidth = 0;
        std::size_t valueWidth = 0;
        for (const TSummaryItem& item : items) {
            labelWidth = std::max(labelWidth, item.Label.size());
            valueWidth = std::max(valueWidth, item.Value.value_or("-").size());
        }
        const std::string unit = TableText(scale.Unit);
        for (const TSummaryItem& item : items) {
            const std::string value = item.Value.value_or("-");
            text += item.Label;
            text.append(labelWidth - item.Label.size() + 2 + valueWidth - value.size(), ' ');
            text += value;
            if (item.Scaled) {
                char number[MaxNumberChars];
                char* end = WriteWindowScaled(number, *item.Scaled);
                text += "  (";
                text.append(number, end);
                if (!unit.empty()) {
                    text += ' ';
                    text += unit;
                }
                text += ')';
            }
            text += '\n';
        }
        break;
    }
    }
    return text;
}

namespace {

struct TSummaryResult final : TBatchResult {
    TSummary Summary;
    TSignalSummary Signal;
};

} // namespace

TSummarySink::TSummarySink(TOutputFormat format, const TFrameLayoutParams& layout, const TScale& scale)
    : FFormat(format), FLayout(layout), FScale(scale) {}

std::unique_ptr<TBatchResult> TSummarySink::NewResult() const {
    return std::make_unique<TSummaryResult>();
}

void TSummarySink::Process(const TCaptureBatch& batch, TBatchResult& result) const {
    auto& r = static_cast<TSummaryResult&>(result);
    r.Summary = TSummary{};
    r.Signal = TSignalSummary{};
    const bool isSigned = FLayout.Params().Signed;
    const bool timed = !batch.Timing.empty() && batch.Timing.size() == batch.Frames.size();
    for (std::size_t i = 0; i < batch.Frames.size(); ++i) {
        const TCaptureFrame& frame = batch.Frames[i];
        const TDecodedRecord record = DecodeCaptureFrame(FLayout, frame, FrameInput(batch, frame));
        r.Summary.Add(record, isSigned);
        if (timed) {
            r.Signal.Add(frame, record, batch.Timing[i]);
        }
    }
}

void TSummarySink::BeginInput(const TSinkInput& input, TSinkOutput&) {
    const bool signal = IsSignalCapture(*input.Reader);
    if (!FSignal) {
        FSignal = signal;
    } else if (signal != *FSignal) {
        throw TInputError(0, "signal captures and captures of frames cannot be summarised in one "
                             "run: give them to separate runs");
    }
}

void TSummarySink::Consume(const TCaptureBatch&, const TBatchResult& result, std::uint64_t sequence,
                           const TSinkInput& input, TSinkOutput&) {
    const auto& r = static_cast<const TSummaryResult&>(result);
    // The first batch of a later input starts another capture.
    const bool continued = !(input.Index > 0 && sequence == 0);
    FSummary.Merge(r.Summary, continued);
    FSignalSummary.Merge(r.Signal, continued);
}

void TSummarySink::EndInput(const TSinkInput& input, TSinkOutput&) {
    FSignalSummary.EndCapture();
    if (const TSignalStats* stats = input.Reader->SignalStats()) {
        FSignalSummary.HasStats = true;
        FSignalSummary.Duration += stats->Duration;
        FSignalSummary.Glitches += stats->Glitches;
        FSignalSummary.Cut += stats->Cut;
    }
}

int TSummarySink::Finish(std::uint64_t, TSinkOutput& out) {
    FSignalSummary.EndCapture();
    out.Write(FormatSummary(FSummary, FFormat, FLayout.Params(), FScale,
                            FSignal.value_or(false) ? &FSignalSummary : nullptr));
    return FSummary.AllGood() ? 0 : 1;
}
