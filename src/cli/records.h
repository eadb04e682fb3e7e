// One record per captured frame: decoding a frame as the reader delivered it, and writing the
// record as a CSV row, a JSON line or an aligned table row.
//
// Fields, in this order: source, input, outcome, ack, multiturn, position, count, error,
// warning, crc_received, crc_calculated, crc_ok, truncated, and with a scale scaled and unit.
// Records of frames that did not decode have only source, input and outcome.
#pragma once

#include "capture.h"
#include "framelayout.h"
#include "textout.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class TOutputFormat { ofCsv, ofJsonl, ofTable };

// The scaled position: Factor (numerator / denominator, computed once as a double) times the
// combined count as a double, as the window computes it, written with Unit.
struct TScale {
    bool Enabled = false;
    double Factor = 1.0;
    std::string Unit;
};

// A frame of a batch as decoded: Outcome doInvalidInput for a line the reader could not read
// or text that is not a hexadecimal frame. HasAck is false for rows of a BiSS analyzer, which
// deliver the fields without the bits before the start bit.
struct TDecodedRecord {
    TFrameFields Fields;
    bool HasAck = true;
};

// The usual frame of the window, exactly 16 hexadecimal digits, read in one pass: the bits
// ParseFrameHex gives for it (16 digits never hold more than 16 significant ones: the
// 64-bit frame word). False, leaving `bits` unspecified, for any other text, which then
// goes to ParseFrameHex.

// The frame's input text; empty when the reader's offsets lie outside the batch's text.
std::string_view FrameInput(const TCaptureBatch& batch, const TCaptureFrame& frame);
TDecodedRecord DecodeCaptureFrame(const TFrameLayout& layout, const TCaptureFrame& frame,
                                  std::string_view input);

// The combined count as a signed or unsigned number, as the layout reads it.
double CountAsDouble(const TFrameLayoutParams& layout, std::uint64_t count);

// The line numbers of consecutive records as text: a record's line is mostly the last one
// plus one, written by counting up the last one's digits instead of dividing by ten.
class TLineText {
public:
    char* Write(char* p, std::uint64_t line);

private:
    std::uint64_t FLine = 0;
    std::size_t FSize = 0; // 0: no line written yet
    std::array<char, 40> FDigits{};
};

class TRecordFormatter {
public:
    TRecordFormatter(TOutputFormat format, const TFrameLayoutParams& layout, const TScale& scale);

    // Table only: the width of the source column, so that it fits the names and line numbers
    // expected (longer ones push their row out).
    void SetSourceWidth(std::size_t width);
    // Written once before every record: the CSV header row or the table's column titles;
    // nothing for JSON lines.
    std::string Header() const;
    // The name written before ":line" in the source of the records that follow (the file name
    // as given, "-" for standard input). Not while records are being written.
    void SetSourceName(std::string_view name);

    // Appends the record of `frame` (of a batch whose text holds `input`) to `out`; `lines`
    // (one for each run of records written in order) writes the line numbers faster.
    void AppendRecord(TOutBuffer& out, const TCaptureFrame& frame, std::string_view input,
                      const TDecodedRecord& record, TLineText* lines = nullptr) const;

private:
    struct TColumn {
        std::string Title;
        std::size_t Width = 0;
        bool Right = false;
    };

    void AppendCsv(TOutBuffer& out, const TCaptureFrame& frame, std::string_view input,
                   const TDecodedRecord& record, TLineText* lines) const;
    void AppendJson(TOutBuffer& out, const TCaptureFrame& frame, std::string_view input,
                    const TDecodedRecord& record, TLineText* lines) const;
    void AppendTable(TOutBuffer& out, const TCaptureFrame& frame, std::string_view input,
                     const TDecodedRecord& record, TLineText* lines) const;
    char* WriteScaled(char* p, std::uint64_t count) const;
    char* WriteMultiTurn(char* p, std::uint64_t value) const;
    char* WritePosition(char* p, std::uint64_t value) const;
    char* WriteCount(char* p, std::uint64_t value) const;
    // The position, `between`, then the count.
    template <std::size_t N>
    char* WritePositionAndCount(char* p, const TFrameFields& f, const char (&between)[N]) const;

    TOutputFormat FFormat;
    TFrameLayoutParams FLayout;
    TScale FScale;
    int FCrcDigits = 2;
    std::string FUnitText;     // the unit as the format writes it
    TShortText FSourcePrefix; // the name, ':' and what the format puts before the name
    TShortText FSourceSuffix; // what the format puts after the line number
    std::size_t FSourcePrefixWidth = 0; // characters of FSourcePrefix in a table
    std::size_t FFixedBytes = 0; // most bytes of a record apart from its input
    std::vector<TColumn> FColumns; // table only
};
