#include "capture/linereader.h"

#include <algorithm>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define CORVANE_CAPTURE_SSE2 1
#endif

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";

} // namespace

std::size_t TPrefixedSource::Read(char* buffer, std::size_t capacity) {
    if (FOffset < FPrefix.size()) {
        const std::size_t n = std::min(capacity, FPrefix.size() - FOffset);
        std::memcpy(buffer, FPrefix.data() + FOffset, n);
        FOffset += n;
        if (FOffset == FPrefix.size()) {
            std::string().swap(FPrefix); // the prefix is no longer needed
            FOffset = 0;
        }
        return n;
    }
    return FRest.Read(buffer, capacity);
}

TLineReader::TLineReader(TByteSource& source, bool skipBom, std::size_t blockBytes)
    : FSource(source), FBlockBytes(std::max<std::size_t>(blockBytes, 1)),
      // A line of MaxLineBytes, its CR LF, and a block to read after it; then the padding
      // that NewlineMask may read.
      FCapacity(FBlockBytes + MaxLineBytes + 2), FBuffer(new char[FCapacity + MaskBytes]),
      FBegin(FBuffer.get()), FScan(FBuffer.get()), FEnd(FBuffer.get()), FMaskAt(FBuffer.get()),
      FSkipBom(skipBom) {
    // Only what NewlineMask reads beyond the bytes read is cleared, here and after each read:
    // the rest of the buffer is never touched before it is filled.
    std::memset(FEnd, 0, MaskBytes);
}

std::uint64_t TLineReader::NewlineMask(const char* p, std::size_t available) {
    std::uint64_t mask = 0;
#ifdef CORVANE_CAPTURE_SSE2
    const __m128i newline = _mm_set1_epi8('\n');
    for (int i = 0; i < 4; ++i) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const auto bits = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, newline)));
        mask |= std::uint64_t{bits} << (16 * i);
    }
#else
    for (std::size_t i = 0; i < MaskBytes; ++i) {
        mask |= std::uint64_t{p[i] == '\n'} << i;
    }
#endif
    if (available < MaskBytes) {
        mask &= (std::uint64_t{1} << available) - 1;
    }
    return mask;
}

void TLineReader::Fill() {
    char* const buffer = FBuffer.get();
    std::size_t room = static_cast<std::size_t>(buffer + FCapacity - FEnd);
    if (room < FBlockBytes && FBegin != buffer) {
        // Move the unfinished line to the front. Each line moves at most once, so small reads
        // cost no more than large ones.
        const std::size_t pending = static_cast<std::size_t>(FEnd - FBegin);
        const std::size_t scanned = static_cast<std::size_t>(FScan - FBegin);
        std::memmove(buffer, FBegin, pending);
        FBufferOffset += static_cast<std::uint64_t>(FBegin - buffer);
        FBegin = buffer;
        FScan = buffer + scanned;
        FEnd = buffer + pending;
        room = FCapacity - pending;
    }
    const std::size_t n = FSource.Read(FEnd, room);
    if (n == 0) {
        FEof = true;
    }
    FEnd += std::min(n, room);
    std::memset(FEnd, 0, MaskBytes);
}

bool TLineReader::NextSlow(TLinePiece& piece) {
    FPaused = false;
    if (!FReady) {
        if (FSkipBom) {
            while (static_cast<std::size_t>(FEnd - FBegin) < Bom.size() && !FEof) {
                Fill();
            }
            if (std::string_view(FBegin, static_cast<std::size_t>(FEnd - FBegin)).substr(0, Bom.size()) == Bom) {
                FBegin += Bom.size();
                FScan = std::max(FScan, FBegin);
            }
        }
        FReady = true;
    }
    for (;;) {
        if (FScan < FEnd) {
            const char* const newline =
                static_cast<const char*>(std::memchr(FScan, '\n', static_cast<std::size_t>(FEnd - FScan)));
            if (newline != nullptr) {
                HandOut(piece, newline, true, newline + 1);
                return true;
            }
            FScan = FEnd;
        }
        const std::size_t pending = static_cast<std::size_t>(FEnd - FBegin);
        if (FEof) {
            if (pending == 0 && !FInLine) {
                return false;
            }
            // The last line, without a line end (or the last piece of a long one).
            HandOut(piece, FEnd, true, FEnd);
            return true;
        }
        // A CR at the end may be the start of the line end: keep it for the next piece.
        const std::size_t whole = pending > 0 && FEnd[-1] == '\r' ? pending - 1 : pending;
        if (whole > MaxLineBytes) {
            HandOut(piece, FBegin + whole, false, FBegin + whole);
            return true;
        }
        if (FPauseAllowed && !FInLine && !FSource.DataWaiting()) {
            FPaused = true;
            return false;
        }
        Fill();
    }
}

void TLineReader::HandOut(TLinePiece& piece, const char* end, bool last, const char* next) {
    std::size_t size = static_cast<std::size_t>(end - FBegin);
    if (last && size > 0 && end[-1] == '\r') {
        --size;
    }
    piece.Text = std::string_view(FBegin, size);
    piece.Line = FInLine ? FLine : ++FLine;
    piece.First = !FInLine;
    piece.Last = last;
    FInLine = !last;
    FBegin = next;
    FScan = std::max(FScan, next);
    RestartMask();
}
