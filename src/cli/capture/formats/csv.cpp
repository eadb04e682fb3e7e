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
//
// Records of a signal capture, as corvane-decode writes them in CSV (columns input, time and
// cdm; without --column and without a miso column the frame is in input), are read back as the
// capture's frames with their timing, so that they carry the control channel as the capture
// did: each row is a frame numbered by the burst number after the last '#' of its source
// (the last frame's number plus one when there is none), with the time, clock_hz and
// line_delay_s of the row. A row with outcome "cut" is a cut burst; a row without a cdm bit
// (a burst too long to be a frame) is an invalid one; any other row's input is the received
// bits, left-aligned (4 bits a digit, the padding after the last bit included), its CDM bit
// from cdm and its CDS bit as the cds column states it (empty: none). Such an input numbers
// bursts ('#'), as signal captures do. Recognised by its header as well.
#include "capture/inputformat.h"
#include "capture/readerbase.h"
#include "decode/frametext.h"

#include <charconv>
#include <optional>

namespace {

// The columns of corvane-decode's records of a signal capture that carry the frames' timing.
constexpr std::string_view RecordsFrameColumn = "input";
constexpr std::string_view RecordsTimeColumn = "time";
constexpr std::string_view RecordsCdmColumn = "cdm";

// Where the columns of records of a signal capture are; -1 for those the header lacks.
struct TRecordColumns {
    int Source = -1;
    int Outcome = -1;
    int Cds = -1;
    int Time = -1;
    int Cdm = -1;
    int ClockHz = -1;
    int LineDelay = -1;
};

// The frame's column of `header`: the chosen one; without --column miso, or for records of a
// signal capture, input. -1 when there is none.
int FrameColumn(const std::vector<std::string_view>& header, const TReaderOptions& options) {
    const int chosen = FindColumn(header, WantedColumn(options));
    if (chosen >= 0 || !options.Column.empty()) {
        return chosen;
    }
    const bool records = FindColumn(header, RecordsTimeColumn) >= 0 && FindColumn(header, RecordsCdmColumn) >= 0;
    return records ? FindColumn(header, RecordsFrameColumn) : -1;
}

bool ReadDouble(std::string_view text, double& value) {
    text = TrimBlanks(text);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// A bit field: 0, 1, or -1 when empty; nullopt for anything else.
std::optional<std::int8_t> ReadBitField(std::string_view text) {
    text = TrimBlanks(text);
    if (text.empty()) {
        return std::int8_t{-1};
    }
    if (text == "0" || text == "1") {
        return static_cast<std::int8_t>(text[0] - '0');
    }
    return std::nullopt;
}

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
        const int index = FrameColumn(header.Fields, options);
        if (index < 0) {
            throw TInputError(header.Line, "the CSV header has no column \"" + std::string(column) +
                                               "\"; its columns are " + ListColumns(header.Fields) +
                                               "; choose one with --column");
        }
        FColumn = static_cast<std::size_t>(index);
        const int time = FindColumn(header.Fields, RecordsTimeColumn);
        const int cdm = FindColumn(header.Fields, RecordsCdmColumn);
        if (time >= 0 && cdm >= 0) {
            FTimed = true;
            FRecordColumns = {FindColumn(header.Fields, "source"), FindColumn(header.Fields, "outcome"),
                              FindColumn(header.Fields, "cds"), time, cdm,
                              FindColumn(header.Fields, "clock_hz"), FindColumn(header.Fields, "line_delay_s")};
        }
    }

    std::string_view Format() const override { return "csv"; }
    char SourceSeparator() const override { return FTimed ? '#' : ':'; }

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
            if (FTimed) {
                AppendTimedFrame(batch);
            } else if (FRecord.TooLong) {
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
    // The field of `column` in FRecord; empty when the header lacks the column or the row is
    // short of it.
    std::string_view Field(int column) const {
        return column >= 0 && static_cast<std::size_t>(column) < FRecord.Fields.size()
                   ? FRecord.Fields[static_cast<std::size_t>(column)]
                   : std::string_view();
    }

    // The burst number of FRecord: after the last '#' of its source, else the last one's
    // plus one.
    std::uint64_t BurstNumber() const {
        const std::string_view source = Field(FRecordColumns.Source);
        const std::size_t hash = source.rfind('#');
        std::uint64_t burst = 0;
        if (hash != std::string_view::npos) {
            const std::string_view digits = source.substr(hash + 1);
            const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), burst);
            if (error == std::errc() && end == digits.data() + digits.size() && !digits.empty()) {
                return burst;
            }
        }
        return FLastBurst + 1;
    }

    // A row of records of a signal capture: one frame with its timing. A row that cannot be
    // read as one (too long, cut short, a time or bit that is not one) is an invalid frame
    // holding the row as read, with the time of the frame before it.
    void AppendTimedFrame(TCaptureBatch& batch) {
        const bool readable = !FRecord.TooLong && !FRecord.Unterminated && FRecord.Fields.size() > FColumn;
        const std::uint64_t burst = readable ? BurstNumber() : FLastBurst + 1;
        FLastBurst = burst;
        batch.Timing.resize(batch.Frames.size());
        TFrameTiming timing;
        timing.Time = FLastTime;
        const std::optional<std::int8_t> cdm = ReadBitField(Field(FRecordColumns.Cdm));
        const std::optional<std::int8_t> cds = ReadBitField(Field(FRecordColumns.Cds));
        double time = 0.0;
        if (!readable || !cdm || !cds || !ReadDouble(Field(FRecordColumns.Time), time)) {
            if (FRecord.TooLong) {
                AppendLongFrame(batch, burst, FRecord.Raw);
            } else {
                AppendFrame(batch, burst, TCaptureKind::ckInvalid, FRecord.Raw);
            }
            batch.Timing.push_back(timing);
            return;
        }
        timing.Time = time;
        FLastTime = time;
        if (TrimBlanks(Field(FRecordColumns.Outcome)) == "cut") {
            AppendFrame(batch, burst, TCaptureKind::ckCut, {});
        } else if (*cdm < 0) {
            // A burst without bits (more clocks than a frame holds): its input says so.
            AppendFrame(batch, burst, TCaptureKind::ckInvalid, FRecord.Fields[FColumn]);
        } else {
            TCaptureFrame& frame = AppendFrame(batch, burst, TCaptureKind::ckBits, {});
            AppendCleanFrameText(FRecord.Fields[FColumn], batch.Text);
            const std::size_t digits = batch.Text.size() - frame.InputOffset;
            frame.InputSize = static_cast<std::uint32_t>(digits);
            if (digits == 0 || 4 * digits > UINT16_MAX) {
                frame.Kind = TCaptureKind::ckInvalid;
            } else {
                frame.BitCount = static_cast<std::uint16_t>(4 * digits);
                timing.Cdm = static_cast<std::uint8_t>(*cdm);
                // Stated, as the padding after the last bit could pass for a CDS bit.
                timing.Cds = FRecordColumns.Cds >= 0 ? *cds : TFrameTiming::CdsFromBits;
                double value = 0.0;
                timing.ClockHz = ReadDouble(Field(FRecordColumns.ClockHz), value) ? value : 0.0;
                timing.LineDelay = ReadDouble(Field(FRecordColumns.LineDelay), value) ? value : 0.0;
            }
        }
        batch.Timing.push_back(timing);
    }

    TCsvRecordReader FRecords;
    TCsvRecord FRecord;
    std::size_t FColumn = 0;
    bool FEnded = false;
    bool FTimed = false; // records of a signal capture: the frames have timing
    TRecordColumns FRecordColumns;
    std::uint64_t FLastBurst = 0;
    double FLastTime = 0.0;
};

bool Recognise(const TDetectSample& sample, const TReaderOptions& options) {
    return FrameColumn(sample.HeaderFields, options) >= 0;
}

std::unique_ptr<TCaptureReader> Open(std::unique_ptr<TByteSource> source, const TReaderOptions& options, bool) {
    return std::make_unique<TCsvReader>(std::move(source), options);
}

} // namespace

extern const TInputFormatModule CsvFormat{
    .Info = {"csv", "CSV with a header row: the frame is the hex text in --column"},
    .Recognise = Recognise,
    .Open = Open,
    .ReadsColumn = true};
