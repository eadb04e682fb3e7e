// Test frames for corvane-decode: hexadecimal text of BiSS-C frames built bit by bit from
// their fields, and batches of them as a reader delivers them.
#pragma once

#include "capture.h"
#include "framelayout.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The frame of `layout` carrying `value` (m + n bits) and `status`, after `ack` ACK bits
// (at least 2: ones, then a zero), with its CRC as the layout sends it, XOR `crcFlip`; padded
// with zeros to `totalBits` (a multiple of 4; at least 64) or cut there when shorter.
inline std::string MakeFrameHex(const TFrameLayout& layout, std::int32_t ack, std::uint64_t value,
                                std::uint8_t status, std::uint16_t crcFlip, std::int32_t totalBits) {
    const TFrameLayoutParams& p = layout.Params();
    std::vector<int> bits;
    auto push = [&bits](std::uint64_t field, std::int32_t width) {
        for (std::int32_t i = width - 1; i >= 0; --i) {
            bits.push_back(static_cast<int>((field >> i) & 1U));
        }
    };
    for (std::int32_t i = 0; i + 1 < ack; ++i) {
        bits.push_back(1);
    }
    bits.push_back(0);
    push(2, 2); // start bit 1, CDS 0
    const std::int32_t valueBits = p.MultiTurnBits + p.PositionBits;
    if (valueBits < 64) {
        value &= (std::uint64_t{1} << valueBits) - 1;
    }
    status &= static_cast<std::uint8_t>((1U << p.StatusBits) - 1U);
    push(value, valueBits);
    push(status, p.StatusBits);
    std::uint16_t crc = layout.CalcCrc(value, status);
    if (p.CrcInverted) {
        crc = static_cast<std::uint16_t>(~crc & layout.Crc().Mask());
    }
    push(static_cast<std::uint16_t>((crc ^ crcFlip) & layout.Crc().Mask()), layout.CrcWidth());
    bits.resize(static_cast<std::size_t>(totalBits), 0);
    std::string hex;
    for (std::size_t i = 0; i < bits.size(); i += 4) {
        hex += "0123456789ABCDEF"[bits[i] * 8 + bits[i + 1] * 4 + bits[i + 2] * 2 + bits[i + 3]];
    }
    return hex;
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
