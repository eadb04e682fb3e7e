// Splitting an input into lines, in large blocks and without ever holding more than one block
// and one line of it.
#pragma once

#include "capture/capture.h"
#include "capture/textutil.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

// Bytes already read from a source (to recognise its format, say), handed out again before
// the rest of the source.
class TPrefixedSource final : public TByteSource {
public:
    TPrefixedSource(std::string prefix, TByteSource& rest)
        : FPrefix(std::move(prefix)), FRest(rest) {}
    std::size_t Read(char* buffer, std::size_t capacity) override;
    bool DataWaiting() const override { return FOffset < FPrefix.size() || FRest.DataWaiting(); }

private:
    std::string FPrefix;
    std::size_t FOffset = 0;
    TByteSource& FRest;
};

// A line, or a piece of one that is longer than MaxLineBytes, without its line end (LF, or
// CR LF). The text stays valid until the next call of TLineReader::Next.
struct TLinePiece {
    std::string_view Text;
    std::uint64_t Line = 0; // 1-based
    bool First = true;      // the line starts with this piece
    bool Last = true;       // the line ends with this piece
};

class TLineReader {
public:
    static constexpr std::size_t DefaultBlockBytes = std::size_t{1} << 20;

    // Reads `source` in blocks of `blockBytes` (smaller ones only in tests). A UTF-8 byte order
    // mark at the start is skipped when `skipBom` is set.
    explicit TLineReader(TByteSource& source, bool skipBom = true,
                         std::size_t blockBytes = DefaultBlockBytes);

    // The next line, or the next piece of a long line: every line that fits in MaxLineBytes
    // comes as one piece; a longer one may come whole too (when it fits in the buffer), or as
    // a first piece of more than MaxLineBytes and more pieces to its end. Returns false at the
    // end of the input.
    bool Next(TLinePiece& piece) {
        if (FReady && !FInLine) {
            // The line ends come from a mask of the LFs in 64 bytes at a time: one scan serves
            // several short lines, where a memchr per line would cost more than the line.
            for (;;) {
                if (FMask != 0) {
                    const char* const newline = FMaskAt + CountTrailingZeros(FMask);
                    FMask &= FMask - 1;
                    std::size_t size = static_cast<std::size_t>(newline - FBegin);
                    if (size > 0 && newline[-1] == '\r') {
                        --size;
                    }
                    piece.Text = std::string_view(FBegin, size);
                    piece.Line = ++FLine;
                    piece.First = true;
                    piece.Last = true;
                    FBegin = FScan = newline + 1;
                    return true;
                }
                const char* const next = FMaskAt + MaskBytes;
                if (next >= FEnd) {
                    FScan = FEnd; // every byte up to the end was looked at
                    break;
                }
                FMaskAt = next;
                FMask = NewlineMask(next, static_cast<std::size_t>(FEnd - next));
            }
        }
        return NextSlow(piece);
    }

    // Whether Next may stop early, returning false with Paused() set, when it would otherwise
    // wait for a live input (its source has no data waiting): set by a reader once its batch
    // holds a frame, so that what was read is handed on while the writer is quiet.
    // Never inside a line.
    void SetPauseAllowed(bool allowed) { FPauseAllowed = allowed; }
    bool PauseAllowed() const { return FPauseAllowed; }
    // The last Next returned false for a pause, not for the end of the input.
    bool Paused() const { return FPaused; }

    // Input bytes before the next line.
    std::uint64_t BytesConsumed() const {
        return FBufferOffset + static_cast<std::uint64_t>(FBegin - FBuffer.get());
    }
    // The number of the last line handed out, 0 before the first.
    std::uint64_t LineNumber() const { return FLine; }

private:
    static constexpr std::size_t MaskBytes = 64;

    static unsigned CountTrailingZeros(std::uint64_t mask) {
        return static_cast<unsigned>(std::countr_zero(mask));
    }
    // Bit i set where p[i] is LF, for i below min(available, 64). Reads 64 bytes at p: the
    // buffer has MaskBytes of padding after its end.
    static std::uint64_t NewlineMask(const char* p, std::size_t available);
    // Restarts the mask at FScan, after the buffer changed.
    void RestartMask() {
        FMaskAt = FScan;
        FMask = NewlineMask(FScan, static_cast<std::size_t>(FEnd - FScan));
    }

    bool NextSlow(TLinePiece& piece);
    void Fill();
    // Hands out the bytes from FBegin to `end` as a piece, the last of its line when `last`
    // (without a CR before its end), and goes on reading at `next`.
    void HandOut(TLinePiece& piece, const char* end, bool last, const char* next);

    TByteSource& FSource;
    std::size_t FBlockBytes;
    std::size_t FCapacity;
    std::unique_ptr<char[]> FBuffer;
    const char* FBegin;  // start of the unread bytes
    const char* FScan;   // where the search for the next LF goes on
    char* FEnd;          // end of the bytes read
    const char* FMaskAt;  // the 64 bytes FMask describes start here
    std::uint64_t FMask = 0; // the LFs from FScan on in those bytes, not yet handed out
    std::uint64_t FBufferOffset = 0; // input offset of FBuffer[0]
    std::uint64_t FLine = 0;
    bool FSkipBom;
    bool FReady = false; // the byte order mark was looked for
    bool FInLine = false; // a piece of an unfinished line was handed out
    bool FEof = false;
    bool FPauseAllowed = false;
    bool FPaused = false;
};
