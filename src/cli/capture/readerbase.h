// What the readers of text formats share: reading lines of a source they own, a queue of
// frames that rows complete, the header row of a CSV export, and the values of a logic
// analyzer's export as bytes. Internal to corvane_capture.
#pragma once

#include "capture/batchappend.h"
#include "capture/capture.h"
#include "capture/csvrecords.h"
#include "capture/linereader.h"
#include "capture/textutil.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The column the options ask for: Column, or "miso".
std::string_view WantedColumn(const TReaderOptions& options);

// Appends the bytes of an SPI data value ("0xC0", "0xC004C9BA", "192", "192 4", "0b11000000")
// to `digits` as hexadecimal digits: hex digits as written, decimal and binary bytes as two
// uppercase digits each (binary left-padded with zeros to whole bytes). nrTooWide: a decimal
// value above 255, whose width is not written.
TNumberRead ReadByteValue(std::string_view value, std::string& digits);

// Appends the digits of a text of hexadecimal words separated by blanks ("C0", "C0 04 C9") to
// `digits`; false when it holds no digit or anything else.
bool AppendHexWords(std::string_view text, std::string& digits);

// A line as the readers of line formats take it: a whole line, or one longer than MaxLineBytes
// as its start and "..." (TooLong), once all of it has been read.
struct TTextLine {
    std::string_view Text;
    std::uint64_t Line = 0;
    bool TooLong = false;
};

// The message of a value in the ASCII radix, or another radix that carries no number.
TInputError NotNumberError(std::uint64_t line, std::string_view value);

// A reader over the lines of a source it owns.
class TLineCaptureReader : public TCaptureReader {
protected:
    explicit TLineCaptureReader(std::unique_ptr<TByteSource> source)
        : FSource(std::move(source)), FLines(*FSource) {}

    std::unique_ptr<TByteSource> FSource;
    TLineReader FLines;
};

// A reader whose rows complete frames through a queue: a row may complete none (inside a
// span) or several (a long value cut by --frame-bytes).
class TQueuedReader : public TLineCaptureReader {
public:
    bool ReadBatch(TCaptureBatch& batch, std::size_t maxFrames) override;

protected:
    TQueuedReader(std::unique_ptr<TByteSource> source, std::uint32_t frameBytes)
        : TLineCaptureReader(std::move(source)), FAssembler(FQueue, frameBytes) {}

    // Reads the next row or line, or a bounded part of the work one line stands for, into
    // the queue or the assembler; false at the end (or, with FLines.Paused(), at a pause).
    virtual bool ReadRow() = 0;
    // The end of the input, before the assembler delivers what it still holds.
    virtual void Finish() {}
    // The next line (see TTextLine); false at the end or at a pause.
    bool NextLine(TTextLine& line);

    TFrameQueue FQueue;
    TFrameAssembler FAssembler;
    bool FEnded = false;

private:
    std::string FLongText;
};

// An export in CSV form: its header row read and checked on opening. Every column is written
// in every row, so a row with fewer fields than the header was cut or damaged: it goes to the
// assembler as unreadable.
class TCsvExportReader : public TQueuedReader {
protected:
    TCsvExportReader(std::unique_ptr<TByteSource> source, std::uint32_t frameBytes)
        : TQueuedReader(std::move(source), frameBytes), FRecords(FLines) {}

    // Reads the header row into FHeaderNames; false for an empty input.
    bool ReadHeader(const char* what);
    // The index of a column the format needs; throws when the header lacks it. `chosen`: the
    // column is the one --column chooses.
    std::size_t NeedColumn(std::string_view name, const char* what, bool chosen) const;
    // Reads a row's data value into the assembler.
    void AddValue(std::string_view value);

    bool ReadRow() final;
    // Reads FRecord, which has every column.
    virtual void ReadFields() = 0;

    TCsvRecordReader FRecords;
    TCsvRecord FRecord;
    std::vector<std::string> FHeaderNames;
    std::uint64_t FHeaderLine = 0;
    std::string FDigits;
};
