// The hex and csv readers: one frame per line or record, cleaned into the batch directly.
#include "csvrecords.h"
#include "frametext.h"
#include "readers.h"

namespace {

// A reader over the lines of a source it owns.
class TLineCaptureReader : public TCaptureReader {
protected:
    explicit TLineCaptureReader(std::unique_ptr<TByteSource> source)
        : FSource(std::move(source)), FLines(*FSource) {}

    // True while `batch` can take another frame.
    static bool HasRoom(const TCaptureBatch& batch, std::size_t limit) {
        return batch.Frames.size() < limit && batch.Text.size() < MaxBatchTextBytes;
    }

    std::unique_ptr<TByteSource> FSource;
    TLineReader FLines;
};

class THexReader final : public TLineCaptureReader {
public:
    explicit THexReader(std::unique_ptr<TByteSource> source) : TLineCaptureReader(std::move(source)) {}

    TInputFormat Format() const override { return TInputFormat::ifHex; }

    bool ReadBatch(TCaptureBatch& batch, std::size_t maxFrames) override {
        const std::size_t before = batch.Frames.size();
        const std::size_t limit = before + maxFrames;
        TLinePiece piece;
        while (HasRoom(batch, limit) && FLines.Next(piece)) {
            if (!piece.First || !piece.Last || piece.Text.size() > MaxLineBytes) {
                ReadLongPiece(piece, batch);
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
            TCaptureFrame& frame = batch.Frames.emplace_back();
            frame.Line = piece.Line;
            frame.Kind = TCaptureKind::ckHex;
            frame.InputOffset = static_cast<std::uint32_t>(batch.Text.size());
            AppendCleanFrameText(text, batch.Text);
            frame.InputSize = static_cast<std::uint32_t>(batch.Text.size() - frame.InputOffset);
        }
        batch.BytesConsumed = FLines.BytesConsumed();
        return batch.Frames.size() > before;
    }

private:
    enum class TLongLine { llNone, llBlank, llComment, llText };

    // A line longer than MaxLineBytes comes in pieces: a comment or a blank line is skipped,
    // any other is an invalid frame showing its start.
    void ReadLongPiece(const TLinePiece& piece, TCaptureBatch& batch) {
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
                AppendLongFrame(batch, FLongLine, FLongStart);
            }
            FLong = TLongLine::llNone;
        }
    }

    TLongLine FLong = TLongLine::llNone;
    std::uint64_t FLongLine = 0;
    std::string FLongStart;
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

    TInputFormat Format() const override { return TInputFormat::ifCsv; }

    bool ReadBatch(TCaptureBatch& batch, std::size_t maxFrames) override {
        const std::size_t before = batch.Frames.size();
        const std::size_t limit = before + maxFrames;
        while (!FEnded && HasRoom(batch, limit)) {
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
