// Test frames for corvane-decode: hexadecimal text of BiSS-C frames built bit by bit from
// their fields, and batches of them as a reader delivers them.
#pragma once

#include "capture/capture.h"
#include "decode/framelayout.h"
#include "framesupport.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The frame of `layout` carrying `value` (m + n bits, as sent) and `status`, after `ack` ACK
// bits (at least 2: ones, then a zero), with its CRC as the layout sends it, XOR `crcFlip`;
// padded with zeros to `totalBits` (a multiple of 4; at least 64) or cut there when shorter.
inline std::string MakeFrameHex(const TFrameLayout& layout, std::int32_t ack, std::uint64_t value,
                                std::uint8_t status, std::uint16_t crcFlip, std::int32_t totalBits) {
    TFrameContent content;
    content.AckLength = ack;
    content.Count = value;
    content.CountAsSent = true;
    content.Status = status;
    content.CrcFlip = crcFlip;
    content.TotalBits = totalBits;
    TBitList bits = BuildFrame(layout.Params(), content).Received;
    bits.Bits.resize(static_cast<std::size_t>(totalBits), false);
    return bits.Hex();
}

// Appends a frame to `batch` as a reader would: its text in the batch's buffer.
inline void AddFrame(TCaptureBatch& batch, std::uint64_t line, std::string_view text,
                     TCaptureKind kind = TCaptureKind::ckHex, TFrameData data = {}) {
    TCaptureFrame frame;
    frame.Line = line;
    frame.Kind = kind;
    frame.InputOffset = static_cast<std::uint32_t>(batch.Text.size());
    frame.InputSize = static_cast<std::uint32_t>(text.size());
    frame.Data = data;
    batch.Text += text;
    batch.Frames.push_back(frame);
}

// A reader that only tells what kind of capture it reads, for feeding sinks batches made by
// hand: line numbers (':'), or the bursts of a signal capture ('#') with `stats`.
class THexReader : public TCaptureReader {
public:
    THexReader() = default;
    explicit THexReader(const TSignalStats* stats) : FStats(stats) {}
    std::string_view Format() const override { return FStats != nullptr ? "signal" : "hex"; }
    char SourceSeparator() const override { return FStats != nullptr ? '#' : ':'; }
    const TSignalStats* SignalStats() const override { return FStats; }
    bool ReadBatch(TCaptureBatch&, std::size_t) override { return false; }

private:
    const TSignalStats* FStats = nullptr;
};
