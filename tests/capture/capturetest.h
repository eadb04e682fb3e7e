// Reading whole inputs for the capture reader tests.
#pragma once

#include "capture/capture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// A frame as a test compares it: its input copied out of the batch.
struct TReadFrame {
    std::uint64_t Line = 0;
    TCaptureKind Kind = TCaptureKind::ckHex;
    std::string Input;
    TFrameData Data;

    bool operator==(const TReadFrame& other) const {
        return Line == other.Line && Kind == other.Kind && Input == other.Input &&
               Data.Value == other.Data.Value && Data.Status == other.Data.Status &&
               Data.Crc == other.Data.Crc;
    }
};

inline std::ostream& operator<<(std::ostream& out, const TReadFrame& frame) {
    const char* kind = frame.Kind == TCaptureKind::ckHex       ? "hex"
                       : frame.Kind == TCaptureKind::ckInvalid ? "invalid"
                                                               : "biss";
    // Long inputs shortened, so that a failure stays readable.
    const std::string shown = frame.Input.size() > 100
                                  ? frame.Input.substr(0, 80) + "...(" + std::to_string(frame.Input.size()) + " bytes)"
                                  : frame.Input;
    out << "{line " << frame.Line << ", " << kind << ", \"" << shown << "\"";
    if (frame.Kind == TCaptureKind::ckBissFields) {
        out << ", value " << frame.Data.Value << " status " << int(frame.Data.Status) << " crc "
            << frame.Data.Crc;
    }
    return out << "}";
}

// Shorthands for expected frames.
inline TReadFrame Hex(std::uint64_t line, std::string input) {
    return {line, TCaptureKind::ckHex, std::move(input), {}};
}
inline TReadFrame Invalid(std::uint64_t line, std::string input) {
    return {line, TCaptureKind::ckInvalid, std::move(input), {}};
}
inline TReadFrame Biss(std::uint64_t line, std::string input, std::uint64_t value, std::uint8_t status,
                       std::uint16_t crc) {
    return {line, TCaptureKind::ckBissFields, std::move(input), {value, status, crc}};
}

struct TReadResult {
    std::string Format = "auto";
    std::vector<TReadFrame> Frames;
    std::uint64_t BytesConsumed = 0;
};

// Reads all of `input` through a source that hands out `pieceBytes` bytes per Read, in batches
// of `maxFrames`, checking the batch contract on the way. Throws TInputError as the reader does.
inline TReadResult ReadCapture(const std::string& input, const TReaderOptions& options,
                               std::size_t pieceBytes = SIZE_MAX, std::size_t maxFrames = 1000) {
    TMemoryByteSource source(input, pieceBytes);
    const std::unique_ptr<TCaptureReader> reader = OpenCaptureReader(source, options);
    TReadResult result;
    result.Format = std::string(reader->Format());
    TCaptureBatch batch;
    for (;;) {
        batch.Clear();
        const bool more = reader->ReadBatch(batch, maxFrames);
        EXPECT_EQ(more, !batch.Frames.empty());
        EXPECT_LE(batch.Frames.size(), maxFrames);
        EXPECT_GE(batch.BytesConsumed, result.BytesConsumed);
        EXPECT_LE(batch.BytesConsumed, input.size());
        result.BytesConsumed = batch.BytesConsumed;
        for (const TCaptureFrame& frame : batch.Frames) {
            EXPECT_LE(std::size_t{frame.InputOffset} + frame.InputSize, batch.Text.size());
            if (!result.Frames.empty()) {
                EXPECT_GE(frame.Line, result.Frames.back().Line) << "frames out of line order";
            }
            result.Frames.push_back({frame.Line, frame.Kind, std::string(batch.Input(frame)),
                                     frame.Kind == TCaptureKind::ckBissFields ? frame.Data : TFrameData{}});
        }
        if (!more) {
            break;
        }
    }
    return result;
}

inline TReaderOptions Options(std::string format, std::string column = "", std::uint32_t frameBytes = 0) {
    TReaderOptions options;
    options.Format = std::move(format);
    options.Column = std::move(column);
    options.FrameBytes = frameBytes;
    return options;
}

// `text` with every LF turned into CR LF.
inline std::string WithCrLf(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}
