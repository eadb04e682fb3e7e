#include "summary.h"

#include <algorithm>
#include <array>
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

std::string CountText(std::uint64_t key, const TFrameLayoutParams& layout) {
    const std::uint64_t count = CountFromKey(key, layout.Signed);
    return layout.Signed ? std::to_string(AsSigned(count)) : std::to_string(count);
}

} // namespace

void TSummary::Add(const TDecodedRecord& record, bool isSigned) {
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

std::string FormatSummary(const TSummary& s, TOutputFormat format,
                          const TFrameLayoutParams& layout, const TScale& scale) {
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
                char* end = WriteFixedDouble(number, *item.Scaled, 4);
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
