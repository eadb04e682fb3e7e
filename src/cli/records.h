// One record per captured frame: decoding a frame as the reader delivered it, and writing the
// record as a CSV row, a JSON line or an aligned table row, all three drawn from one table of
// fields (RecordFields()); and the records sink, which writes them in input order.
//
// Fields, in this order: source, input, outcome, ack, multiturn, position, count, error,
// warning, crc_received, crc_calculated, crc_ok, truncated, cds; for signal captures time, cdm,
// clock_hz, line_delay_s; with a scale scaled and unit. Records of frames that did not decode
// have only source, input and outcome (and the timing a signal capture gives them).
#pragma once

#include "capture/capture.h"
#include "decode/framelayout.h"
#include "cli/sink.h"
#include "cli/textout.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
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
    // A burst of clocks the capture cut (ckCut): outcome "cut", never decoded.
    bool Cut = false;
    // The CDS bit, the bit after the start bit (s(AckLength + 1)); -1 where the input does
    // not carry it (a BiSS analyzer's rows, a frame that ends before it, no frame at all).
    std::int8_t Cds = -1;
    // The frame's timing, for frames of signal captures; set by whoever holds the batch.
    const TFrameTiming* Timing = nullptr;
};

// The fields of a record, in the order every format writes them.
enum class TRecordField : std::uint8_t {
    rfSource, rfInput, rfOutcome, rfAck, rfMultiTurn, rfPosition, rfCount, rfError, rfWarning,
    rfCrcReceived, rfCrcCalculated, rfCrcOk, rfTruncated, rfCds, rfTime, rfCdm, rfClockHz,
    rfLineDelay, rfScaled, rfUnit,
};
inline constexpr std::size_t RecordFieldCount = static_cast<std::size_t>(TRecordField::rfUnit) + 1;

// Which runs have a field: every run, runs whose first input is a signal capture, runs with
// a scale.
enum class TFieldPresence : std::uint8_t { fpAlways, fpSignal, fpScale };

// What the width of a field's table column depends on.
struct TFieldWidthContext {
    TFrameLayoutParams Layout;
    int CrcBits = 6;        // the CRC's width
    int CrcDigits = 2;      // hexadecimal digits of the CRC
    std::size_t UnitWidth = 0; // characters of the unit in a table
};

// A field: its name (CSV column, JSON key, table title), when it is there, the width of its
// table column before the title is counted (0: no column in the table), and whether the table
// aligns it to the right. How each format writes its value is in the record writer, one block
// per field in this order.
struct TRecordFieldInfo {
    TRecordField Id;
    std::string_view Name;
    TFieldPresence Presence;
    std::size_t (*TableWidth)(const TFieldWidthContext&);
    bool Right;
};

// Every field, in the order of the records.
std::span<const TRecordFieldInfo> RecordFields();

// A scaled number as the window shows it (FormatScaledNumber: 15 significant digits, then
// four decimals, a half away from zero), without the grouping of thousands. `p` has room for
// MaxScaledNumberLength characters.
char* WriteWindowScaled(char* p, double value);

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
    // `signal`: the records have the fields of signal captures (time, cdm, clock_hz,
    // line_delay_s).
    TRecordFormatter(TOutputFormat format, const TFrameLayoutParams& layout, const TScale& scale,
                     bool signal = false);

    // Table only: the width of the source column, so that it fits the names and line numbers
    // expected (longer ones push their row out).
    void SetSourceWidth(std::size_t width);
    // Written once before every record: the CSV header row or the table's column titles;
    // nothing for JSON lines.
    std::string Header() const;
    // The name written before ":line" (or `separator` and the burst number of a signal
    // capture) in the source of the records that follow (the file name as given, "-" for
    // standard input). Not while records are being written.
    void SetSourceName(std::string_view name, char separator = ':');

    // Appends the record of `frame` (of a batch whose text holds `input`) to `out`; `lines`
    // (one for each run of records written in order) writes the line numbers faster.
    void AppendRecord(TOutBuffer& out, const TCaptureFrame& frame, std::string_view input,
                      const TDecodedRecord& record, TLineText* lines = nullptr) const;

    // Decodes every frame of `batch` with `layout` (DecodeCaptureFrame, with the batch's
    // timing) and appends its record, as AppendRecord does one by one; returns the frames that
    // decoded with a good CRC.
    std::uint64_t AppendBatch(TOutBuffer& out, const TFrameLayout& layout,
                              const TCaptureBatch& batch) const;

private:
    // A field of this formatter's records: what the format writes before its value (CSV's
    // comma, JSON's key), copied with one fixed-size copy, and its table column.
    struct TActiveField {
        static constexpr std::size_t Room = 24;
        TRecordField Id = TRecordField::rfSource;
        std::array<char, Room> Prefix{};
        std::uint8_t PrefixSize = 0;
        bool Right = false;
        std::size_t Width = 0;
        std::string_view Name;
    };

    // The writer of one format for records that decoded or not, with or without the fields
    // of signal captures and of a scale; FAppend holds the two of this formatter.
    template <TOutputFormat Format, bool Decoded, bool Signal, bool Scale>
    void AppendAs(TOutBuffer& out, const TCaptureFrame& frame, std::string_view input,
                  const TDecodedRecord& record, TLineText* lines) const;
    template <TOutputFormat Format, bool Signal, bool Scale> void ChooseAppend();
    template <TOutputFormat Format> void ChooseAppend(bool signal, bool scale);
    using TAppend = void (TRecordFormatter::*)(TOutBuffer&, const TCaptureFrame&, std::string_view,
                                               const TDecodedRecord&, TLineText*) const;
    std::array<TAppend, 2> FAppend{}; // [0]: records that did not decode, [1]: decoded ones
    template <TOutputFormat Format, bool Signal, bool Scale>
    std::uint64_t AppendBatchAs(TOutBuffer& out, const TFrameLayout& layout,
                                const TCaptureBatch& batch) const;
    using TAppendBatch = std::uint64_t (TRecordFormatter::*)(TOutBuffer&, const TFrameLayout&,
                                                             const TCaptureBatch&) const;
    TAppendBatch FAppendBatch = nullptr;
    char* WriteScaled(char* p, std::uint64_t count) const;

    TOutputFormat FFormat;
    TFrameLayoutParams FLayout;
    TScale FScale;
    int FCrcDigits = 2;
    bool FSignedMultiTurn = false; // the multi-turn count is written with a sign
    bool FSignedPosition = false;  // the position is written with a sign
    std::string FUnitText;     // the unit as the format writes it
    std::size_t FUnitWidth = 0; // characters of the unit in a table
    TShortText FSourcePrefix; // the name, the separator and what the format puts before the name
    TShortText FSourceSuffix; // what the format puts after the line number
    std::size_t FSourcePrefixWidth = 0; // characters of FSourcePrefix in a table
    std::size_t FFixedBytes = 0; // most bytes of a record apart from its input
    std::vector<TActiveField> FFields;
    // Each field's place in FFields, -1 for a field these records do not have.
    std::array<std::int8_t, RecordFieldCount> FSlots = MakeNoSlots();
    static constexpr std::array<std::int8_t, RecordFieldCount> MakeNoSlots() {
        std::array<std::int8_t, RecordFieldCount> slots{};
        slots.fill(-1);
        return slots;
    }
};

// Whether a reader reads a signal capture: its sources number bursts ('#'), not lines.
inline bool IsSignalCapture(const TCaptureReader& reader) { return reader.SourceSeparator() == '#'; }

// The records sink: one record per frame in input order, after the header (written once the
// first input was recognised, so that an input that cannot be read leaves the output empty).
// Whether the records have the fields of signal captures is decided by the first input; a
// later input of the other kind stops with a TInputError, as its records would not fit the
// columns. The exit status needs only the frames and those with a good CRC.
class TRecordSink final : public TOutputSink {
public:
    // `sourceWidth`: the table's source column (see TRecordFormatter::SetSourceWidth).
    TRecordSink(TOutputFormat format, const TFrameLayoutParams& layout, const TScale& scale,
                std::size_t sourceWidth = 0);

    std::unique_ptr<TBatchResult> NewResult() const override;
    void Process(const TCaptureBatch& batch, TBatchResult& result) const override;
    void BeginInput(const TSinkInput& input, TSinkOutput& out) override;
    void Consume(const TCaptureBatch& batch, const TBatchResult& result, std::uint64_t sequence,
                 const TSinkInput& input, TSinkOutput& out) override;
    int Finish(std::uint64_t frames, TSinkOutput& out) override;

private:
    TOutputFormat FFormat;
    TFrameLayout FLayout;
    TScale FScale;
    std::size_t FSourceWidth;
    std::optional<TRecordFormatter> FFormatter; // made for the first input
    bool FSignal = false;
    std::uint64_t FGood = 0; // frames decoded with a good CRC
};
