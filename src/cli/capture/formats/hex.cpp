// hex: one frame per line as hexadecimal text, the way an encoder interface or a
// microcontroller's SPI port hands frames out and the window takes them.
//
// Each line is cleaned by AppendCleanFrameText (letters and digits kept, one "0x" removed);
// whether the text is a frame is decided later by ParseFrameHex. Lines that are empty or blank
// (spaces, tabs, CR, VT, FF) and lines whose first non-blank character is '#' are skipped.
// Recognised when the first line that is not a '#' comment, and at least half of the sampled
// ones, are made of hexadecimal digits, blanks, "0x" prefixes and the separators : , ; . _ -;
// and for an input of nothing but blank or comment lines (no frames in any format).
#include "capture/inputformat.h"
#include "capture/readerbase.h"
#include "decode/frametext.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define CORVANE_CAPTURE_SSE2 1
#endif

namespace {

// 1 for the bytes AppendCleanFrameText drops or may change: all but ASCII letters and digits,
// and the lowercase 'x' of a "0x" it removes.
constexpr std::array<std::uint8_t, 256> MakeUnclean() {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        table[static_cast<std::size_t>(c)] = alnum && c != 'x' ? 0 : 1;
    }
    return table;
}
constexpr std::array<std::uint8_t, 256> Unclean = MakeUnclean();

class THexReader final : public TLineCaptureReader {
public:
    explicit THexReader(std::unique_ptr<TByteSource> source) : TLineCaptureReader(std::move(source)) {}

    std::string_view Format() const override { return "hex"; }

    bool ReadBatch(TCaptureBatch& batch, std::size_t maxFrames) override {
        const std::size_t before = batch.Frames.size();
        const std::size_t limit = before + std::min(maxFrames, SIZE_MAX - before);
        const std::size_t textLimit = batch.Text.size() + MaxBatchTextBytes;
        {
            TBatchWriter& writer = FWriter;
            writer.Start(batch);
            TLinePiece piece;
            for (;;) {
                if (writer.FrameCount() >= limit || writer.TextSize() >= textLimit) {
                    break;
                }
                FLines.SetPauseAllowed(writer.FrameCount() > before);
                if (!FLines.Next(piece)) {
                    break;
                }
                if (!piece.First || !piece.Last || piece.Text.size() > MaxLineBytes) {
                    ReadLongPiece(piece, writer);
                    continue;
                }
                const std::string_view text = piece.Text;
                std::size_t i = 0;
                while (i < text.size() && IsBlankByte(text[i])) {
                    ++i;
                }
                if (i == text.size() || text[i] == '#') {
                    continue; // blank, or a comment
                }
                std::string_view clean = text;
                if (!IsClean(text)) {
                    FScratch.clear();
                    AppendCleanFrameText(text, FScratch);
                    clean = FScratch;
                } // else cleaning would keep the text as it is
                writer.Add(piece.Line, TCaptureKind::ckHex, clean);
            }
            writer.Flush();
        }
        batch.BytesConsumed = FLines.BytesConsumed();
        return batch.Frames.size() > before;
    }

private:
    // True when AppendCleanFrameText would append `text` unchanged: ASCII letters and digits
    // only, and no lowercase 'x' (so no "0x" to remove). Most lines of a capture are so.
    static bool IsClean(std::string_view text) {
        const char* p = text.data();
        std::size_t n = text.size();
#ifdef CORVANE_CAPTURE_SSE2
        // 16 bytes at a time: digits, or letters once case is folded, and not 'x'. Bytes of
        // 0x80 and above are negative here and fail every range.
        const __m128i digitLow = _mm_set1_epi8('0' - 1);
        const __m128i digitHigh = _mm_set1_epi8('9' + 1);
        const __m128i letterLow = _mm_set1_epi8('a' - 1);
        const __m128i letterHigh = _mm_set1_epi8('z' + 1);
        const __m128i fold = _mm_set1_epi8(0x20);
        const __m128i x = _mm_set1_epi8('x');
        while (n >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(v, digitLow), _mm_cmplt_epi8(v, digitHigh));
            const __m128i folded = _mm_or_si128(v, fold);
            const __m128i letter =
                _mm_and_si128(_mm_cmpgt_epi8(folded, letterLow), _mm_cmplt_epi8(folded, letterHigh));
            const __m128i clean = _mm_andnot_si128(_mm_cmpeq_epi8(v, x), _mm_or_si128(digit, letter));
            if (_mm_movemask_epi8(clean) != 0xFFFF) {
                return false;
            }
            p += 16;
            n -= 16;
        }
#endif
        unsigned unclean = 0;
        for (std::size_t i = 0; i < n; ++i) {
            unclean |= Unclean[static_cast<unsigned char>(p[i])];
        }
        return unclean == 0;
    }


    enum class TLongLine { llNone, llBlank, llComment, llText };

    // A line longer than MaxLineBytes comes in pieces: a comment or a blank line is skipped,
    // any other is an invalid frame showing its start.
    void ReadLongPiece(const TLinePiece& piece, TBatchWriter& writer) {
        if (piece.First) {
            FLong = TLongLine::llBlank;
            FLongLine = piece.Line;
            FLongStart.assign(LongTextStart(piece.Text));
        }
        if (FLong == TLongLine::llBlank) {
            for (const char c : piece.Text) {
                if (!IsBlankByte(c)) {
                    FLong = c == '#' ? TLongLine::llComment : TLongLine::llText;
                    break;
                }
            }
        }
        if (piece.Last) {
            if (FLong == TLongLine::llText) {
                FScratch.assign(FLongStart);
                FScratch += LongTextEllipsis;
                writer.Add(FLongLine, TCaptureKind::ckInvalid, FScratch);
            }
            FLong = TLongLine::llNone;
        }
    }

    TLongLine FLong = TLongLine::llNone;
    std::uint64_t FLongLine = 0;
    std::string FLongStart;
    std::string FScratch;
    TBatchWriter FWriter;
};

bool IsSeparator(char c) {
    return IsBlankByte(c) || c == ':' || c == ',' || c == ';' || c == '.' || c == '_' || c == '-';
}

// A line of hexadecimal digits, with blanks, separators and "0x" prefixes.
bool IsHexShaped(std::string_view line) {
    std::size_t digits = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (IsHexDigit(c)) {
            ++digits;
        } else if (c == 'x' || c == 'X') {
            const bool prefix = i > 0 && line[i - 1] == '0' && (i == 1 || IsSeparator(line[i - 2]));
            if (!prefix) {
                return false;
            }
        } else if (!IsSeparator(c)) {
            return false;
        }
    }
    return digits > 0;
}

bool IsComment(std::string_view trimmed) { return !trimmed.empty() && trimmed.front() == '#'; }


bool Recognise(const TDetectSample& sample, const TReaderOptions&) {
    if (sample.Binary) {
        return false;
    }
    if (sample.FirstData == nullptr) {
        return true; // nothing but blanks or comments: no frames in any format
    }
    std::size_t data = 0;
    std::size_t hexShaped = 0;
    for (const TSampleLine& line : sample.Lines) {
        if (!IsComment(line.Text)) {
            ++data;
            hexShaped += IsHexShaped(line.Text) ? 1 : 0;
        }
    }
    return IsHexShaped(sample.FirstData->Text) && 2 * hexShaped >= data;
}

std::unique_ptr<TCaptureReader> Open(std::unique_ptr<TByteSource> source, const TReaderOptions&, bool) {
    return std::make_unique<THexReader>(std::move(source));
}

} // namespace

extern const TInputFormatModule HexFormat{
    .Info = {"hex", "one frame per line as hexadecimal text"},
    .Recognise = Recognise,
    .Open = Open};
