// The hex and csv readers: one frame per line or record, cleaned into the batch directly.
#include "csvrecords.h"
#include "frametext.h"
#include "readers.h"

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

// Gathers frames and their texts in small buffers of its own and moves them into the batch
// a few hundred at a time: no call, no growth check and no zero-filling per frame.
class TBatchWriter {
public:
    TBatchWriter() : FFrames(new TCaptureFrame[FrameChunk]), FText(new char[TextChunk]) {}

    void Start(TCaptureBatch& batch) {
        FBatch = &batch;
        FCount = 0;
        FUsed = 0;
        FTextStart = batch.Text.size();
        FFramesBefore = batch.Frames.size();
    }
    // Frames and text in the batch, counting those not moved yet.
    std::size_t FrameCount() const { return FFramesBefore + FCount; }
    std::size_t TextSize() const { return FTextStart + FUsed; }

    void Add(std::uint64_t line, TCaptureKind kind, std::string_view input) {
        const std::size_t size = input.size();
        if (FCount == FrameChunk || FUsed + size > TextChunk) {
            Flush();
            if (size > TextChunk) {
                TCaptureFrame frame;
                frame.Line = line;
                frame.Kind = kind;
                frame.InputOffset = static_cast<std::uint32_t>(FBatch->Text.size());
                frame.InputSize = static_cast<std::uint32_t>(size);
                FBatch->Text.append(input);
                FBatch->Frames.push_back(frame);
                FTextStart = FBatch->Text.size();
                FFramesBefore = FBatch->Frames.size();
                return;
            }
        }
        TCaptureFrame& frame = FFrames[FCount++];
        frame.Line = line;
        frame.Kind = kind;
        frame.InputOffset = static_cast<std::uint32_t>(FTextStart + FUsed);
        frame.InputSize = static_cast<std::uint32_t>(size);
        CopyBytes(FText.get() + FUsed, input.data(), size);
        FUsed += size;
    }

    // Moves what was gathered into the batch.
    void Flush() {
        FBatch->Frames.insert(FBatch->Frames.end(), FFrames.get(), FFrames.get() + FCount);
        FBatch->Text.append(FText.get(), FUsed);
        FFramesBefore += FCount;
        FTextStart += FUsed;
        FCount = 0;
        FUsed = 0;
    }

private:
    static constexpr std::size_t FrameChunk = 256;
    static constexpr std::size_t TextChunk = 16 * 1024;

    // A copy that needs no call for the usual lengths: two overlapping fixed-size copies.
    static void CopyBytes(char* out, const char* in, std::size_t size) {
        if (size >= 16 && size <= 32) {
            std::memcpy(out, in, 16);
            std::memcpy(out + size - 16, in + size - 16, 16);
        } else if (size >= 8 && size < 16) {
            std::memcpy(out, in, 8);
            std::memcpy(out + size - 8, in + size - 8, 8);
        } else if (size > 0) {
            std::memcpy(out, in, size);
        }
    }

    TCaptureBatch* FBatch = nullptr;
    std::unique_ptr<TCaptureFrame[]> FFrames;
    std::unique_ptr<char[]> FText;
    std::size_t FCount = 0;
    std::size_t FUsed = 0;
    std::size_t FTextStart = 0;
    std::size_t FFramesBefore = 0;
};

// A reader over the lines of a source it owns.
class TLineCaptureReader : public TCaptureReader {
protected:
    explicit TLineCaptureReader(std::unique_ptr<TByteSource> source)
        : FSource(std::move(source)), FLines(*FSource) {}

    // True while `batch` can take another frame.
    static bool HasRoom(const TCaptureBatch& batch, std::size_t limit, std::size_t textLimit) {
        return batch.Frames.size() < limit && batch.Text.size() < textLimit;
    }

    std::unique_ptr<TByteSource> FSource;
    TLineReader FLines;
};

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
            while (writer.FrameCount() < limit && writer.TextSize() < textLimit && FLines.Next(piece)) {
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

class TCsvReader final : public TLineCaptureReader {
public:
    TCsvReader(std::unique_ptr<TByteSource> source, const TReaderOptions& options)
        : TLineCaptureReader(std::move(source)), FRecords(FLines) {
        TCsvRecord header;
        if (!FRecords.Next(header)) {
            FEnded = true; // an empty input: no frames
            return;
        }
        if (header.TooLong || header.Unterminated) {
            throw TInputError(header.Line, header.TooLong ? "the CSV header row is longer than 64 KiB"
                                                          : "a quoted field of the CSV header row is never closed");
        }
        FRecords.SetDelimiter(DetectCsvDelimiter(header.Raw));
        FRecords.Resplit(header);
        const std::string_view column = WantedColumn(options);
        const int index = FindColumn(header.Fields, column);
        if (index < 0) {
            throw TInputError(header.Line, "the CSV header has no column \"" + std::string(column) +
                                               "\"; its columns are " + ListColumns(header.Fields) +
                                               "; choose one with --column");
        }
        FColumn = static_cast<std::size_t>(index);
    }

    std::string_view Format() const override { return "csv"; }

    bool ReadBatch(TCaptureBatch& batch, std::size_t maxFrames) override {
        const std::size_t before = batch.Frames.size();
        const std::size_t limit = before + std::min(maxFrames, SIZE_MAX - before);
        const std::size_t textLimit = batch.Text.size() + MaxBatchTextBytes;
        while (!FEnded && HasRoom(batch, limit, textLimit)) {
            if (!FRecords.Next(FRecord)) {
                FEnded = true;
                break;
            }
            if (FRecord.TooLong) {
                AppendLongFrame(batch, FRecord.Line, FRecord.Raw);
            } else if (FRecord.Unterminated || FRecord.Fields.size() <= FColumn) {
                AppendFrame(batch, FRecord.Line, TCaptureKind::ckInvalid, FRecord.Raw);
            } else {
                TCaptureFrame& frame = batch.Frames.emplace_back();
                frame.Line = FRecord.Line;
                frame.Kind = TCaptureKind::ckHex;
                frame.InputOffset = static_cast<std::uint32_t>(batch.Text.size());
                AppendCleanFrameText(FRecord.Fields[FColumn], batch.Text);
                frame.InputSize = static_cast<std::uint32_t>(batch.Text.size() - frame.InputOffset);
            }
        }
        batch.BytesConsumed = FLines.BytesConsumed();
        return batch.Frames.size() > before;
    }

private:
    TCsvRecordReader FRecords;
    TCsvRecord FRecord;
    std::size_t FColumn = 0;
    bool FEnded = false;
};

} // namespace

std::unique_ptr<TCaptureReader> MakeHexReader(std::unique_ptr<TByteSource> source) {
    return std::make_unique<THexReader>(std::move(source));
}

std::unique_ptr<TCaptureReader> MakeCsvReader(std::unique_ptr<TByteSource> source,
                                              const TReaderOptions& options) {
    return std::make_unique<TCsvReader>(std::move(source), options);
}
