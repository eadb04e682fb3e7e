// csv: any CSV with a header row; the frame is the hexadecimal text in the chosen column.
//
// RFC 4180 records (quoted fields, doubled quotes, line breaks inside quotes), comma or tab as
// the delimiter, whichever the header row holds more of outside quotes. The header row is
// required; the column (--column, default miso) is found by name, case-insensitive, blanks and
// one pair of quotes around a header name ignored. Empty or blank lines between records are
// skipped. A record with too few fields for the column is an invalid frame holding the record
// as read; a quoted field still open at the end of the input makes its record invalid. A
// stray quote in an unquoted field opens a quoted section, as RFC 4180 reads it.
// Recognised when the first line, read as a header row, has the chosen column.
#include "../inputformat.h"
#include "../readerbase.h"
#include "frametext.h"

namespace {

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
        while (!FEnded && BatchHasRoom(batch, limit, textLimit)) {
            FLines.SetPauseAllowed(batch.Frames.size() > before);
            if (!FRecords.Next(FRecord)) {
                FEnded = !FLines.Paused();
                break;
            }
            if (FRecord.TooLong) {
                AppendLongFrame(batch, FRecord.Line, FRecord.Raw);
            } else if (FRecord.Unterminated || FRecord.Fields.size() <= FColumn) {
                AppendFrame(batch, FRecord.Line, TCaptureKind::ckInvalid, FRecord.Raw);
            } else {
                // The cleaned text goes straight into the batch, after an empty frame.
                TCaptureFrame& frame = AppendFrame(batch, FRecord.Line, TCaptureKind::ckHex, {});
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

bool Recognise(const TDetectSample& sample, const TReaderOptions& options) {
    return sample.HasColumn(WantedColumn(options));
}

std::unique_ptr<TCaptureReader> Open(std::unique_ptr<TByteSource> source, const TReaderOptions& options, bool) {
    return std::make_unique<TCsvReader>(std::move(source), options);
}

} // namespace

extern const TInputFormatModule CsvFormat{
    {"csv", "CSV with a header row: the frame is the hex text in --column"},
    Recognise, Open, false};
