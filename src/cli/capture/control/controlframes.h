// The control channel's bits of a signal capture's frames: per frame the CDM bit the master
// sent after it (from the frame's TFrameTiming) and the CDS bit the slave sent after the start
// bit (from the frame's received bits), as the control decoder takes them.
//
// A frame's CDS bit is s(AckLength + 1): DecodeFrameBits finds the last ACK bit s(i) as the
// first 0-then-1 pair s(i), s(i+1) from s1 on and reports AckLength = i + 1, so s(AckLength)
// is the start bit and the bit after it is CDS.
//
// Frames without bits: a burst the capture cut (ckCut) and one too long to be a frame
// (ckInvalid) have neither CDM nor CDS (-1); a complete burst without a start bit, or one
// ending on its start bit, has its CDM bit but no CDS.
//
// Records of a signal capture read back from corvane-decode's CSV output (columns cdm and
// cds) come as ckBits frames whose timing states the CDS bit (TFrameTiming::Cds): that bit is
// taken as stated, not from the frame's text.
#pragma once

#include "capture/capture.h"
#include "capture/control/controldecoder.h"
#include "decode/framelayout.h"

#include <cstdint>
#include <vector>

// The received bits of a ckBits frame of `batch` (its hexadecimal text cut to BitCount bits).
// False for frames of other kinds and for a text that is not such a frame.
bool SignalFrameBits(const TCaptureBatch& batch, const TCaptureFrame& frame, TFrameBits& bits) noexcept;

// The CDS bit of a frame decoded into `fields`: 0 or 1, or -1 when the frame has no start bit
// or ends before the bit after it.
inline std::int8_t CdsBitOf(const TFrameBits& bits, const TFrameFields& fields) noexcept {
    if (fields.Outcome != TDecodeOutcome::doDecoded) {
        return -1;
    }
    const std::int32_t cds = fields.AckLength + 1;
    return cds < bits.Length ? static_cast<std::int8_t>(bits.Bit(cds) ? 1 : 0) : std::int8_t{-1};
}

// The control bits of one frame of a signal capture from what is known of it: its timing,
// and for a ckBits frame its bits and their decode (`fields` nullptr: the frame was not
// decoded, CDS unknown unless the timing states it). For a pipeline that decodes the frames anyway.
inline TControlBits ControlBitsOf(const TCaptureFrame& frame, const TFrameTiming& timing,
                                  const TFrameBits* bits, const TFrameFields* fields,
                                  std::uint32_t source) noexcept {
    TControlBits control;
    control.Frame = frame.Line;
    control.Time = timing.Time;
    control.Source = source;
    if (frame.Kind == TCaptureKind::ckBits) {
        control.Cdm = static_cast<std::int8_t>(timing.Cdm != 0 ? 1 : 0);
        if (timing.Cds != TFrameTiming::CdsFromBits) {
            control.Cds = timing.Cds; // stated by the input (records read back)
        } else if (bits != nullptr && fields != nullptr) {
            control.Cds = CdsBitOf(*bits, *fields);
        }
    }
    return control;
}

// Appends the control bits of every frame of `batch`, decoding its ckBits frames with
// `layout` (the CDS bit depends only on where the start bit is, which every layout finds
// alike). Returns false, appending nothing, for a batch without timing (not a signal capture,
// whose frames carry no CDM bit).
bool AppendControlBits(const TCaptureBatch& batch, const TFrameLayout& layout, std::uint32_t source,
                       std::vector<TControlBits>& out);
