#include "cli/records.h"

#include "decode/scalednumber.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

namespace {

constexpr std::string_view OutcomeName(TDecodeOutcome outcome) {
    switch (outcome) {
    case TDecodeOutcome::doDecoded: return "decoded";
    case TDecodeOutcome::doNoStartBit: return "no_start_bit";
    case TDecodeOutcome::doInvalidInput: break;
    }
    return "invalid";
}

constexpr std::string_view YesNo(bool value) { return value ? "yes" : "no"; }

// Characters of the widest number a field of `bits` bits can hold.
std::size_t FieldDigits(std::int32_t bits, bool isSigned) {
    if (bits <= 0) {
        return 1;
    }
    char text[MaxNumberChars];
    if (isSigned) {
        const std::int64_t lowest =
            bits == 64 ? INT64_MIN : -(std::int64_t{1} << (bits - 1));
        return static_cast<std::size_t>(WriteSigned(text, lowest) - text);
    }
    const std::uint64_t highest = bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
    return static_cast<std::size_t>(WriteUnsigned(text, highest) - text);
}

// Is the input written as it is: hexadecimal text that parsed as a frame is letters and
// digits only, so no format needs to quote or escape it.
bool InputIsPlain(const TCaptureFrame& frame, const TDecodedRecord& record) {
    return (frame.Kind == TCaptureKind::ckHex || frame.Kind == TCaptureKind::ckBits) &&
           record.Fields.Outcome != TDecodeOutcome::doInvalidInput && !record.Cut;
}
// The same for a record known to have decoded (so neither invalid nor cut).
bool DecodedInputIsPlain(const TCaptureFrame& frame) {
    return frame.Kind == TCaptureKind::ckHex || frame.Kind == TCaptureKind::ckBits;
}

// Input that needs no quoting or escaping; the window's 16 digits with a copy of fixed size.
char* WritePlainInput(char* p, std::string_view input) {
    if (input.size() == 16) {
        std::memcpy(p, input.data(), 16);
        return p + 16;
    }
    return WriteText(p, input);
}

// The longest input a table row shows; longer inputs end in "...".
constexpr std::size_t MaxTableInput = 64;

char* PadTo(char* p, std::size_t written, std::size_t width) {
    while (written < width) {
        *p++ = ' ';
        ++written;
    }
    return p;
}

using TWidth = TFieldWidthContext;

std::size_t FrameWidth(const TWidth& c) {
    // Frames as wide as the layout needs with the shortest ACK, and never narrower than the
    // window's 16 digits.
    const TFrameLayoutParams& l = c.Layout;
    const std::int32_t frameBits = 2 + 2 + l.MultiTurnBits + l.PositionBits + l.StatusBits + c.CrcBits;
    return static_cast<std::size_t>(std::max(16, (frameBits + 3) / 4));
}

// The table of fields. A new field is one line here (and its TRecordField, in the same place)
// and one block in AppendAs, in the same order.
constexpr TRecordFieldInfo Fields[] = {
    {TRecordField::rfSource, "source", TFieldPresence::fpAlways, [](const TWidth&) -> std::size_t { return 8; }, false},
    {TRecordField::rfInput, "input", TFieldPresence::fpAlways, FrameWidth, false},
    {TRecordField::rfOutcome, "outcome", TFieldPresence::fpAlways, [](const TWidth&) { return OutcomeName(TDecodeOutcome::doNoStartBit).size(); }, false},
    {TRecordField::rfAck, "ack", TFieldPresence::fpAlways, [](const TWidth&) -> std::size_t { return 3; }, true},
    {TRecordField::rfMultiTurn, "multiturn", TFieldPresence::fpAlways, [](const TWidth& c) { return c.Layout.MultiTurnBits > 0 ? FieldDigits(c.Layout.MultiTurnBits, c.Layout.Signed) : 0; }, true},
    {TRecordField::rfPosition, "position", TFieldPresence::fpAlways, [](const TWidth& c) { return FieldDigits(c.Layout.PositionBits, c.Layout.Signed && c.Layout.MultiTurnBits == 0); }, true},
    {TRecordField::rfCount, "count", TFieldPresence::fpAlways, [](const TWidth& c) { return FieldDigits(c.Layout.MultiTurnBits + c.Layout.PositionBits, c.Layout.Signed); }, true},
    {TRecordField::rfError, "error", TFieldPresence::fpAlways, [](const TWidth&) -> std::size_t { return 3; }, false},
    {TRecordField::rfWarning, "warning", TFieldPresence::fpAlways, [](const TWidth&) -> std::size_t { return 3; }, false},
    {TRecordField::rfCrcReceived, "crc_received", TFieldPresence::fpAlways, [](const TWidth& c) { return static_cast<std::size_t>(2 + c.CrcDigits); }, true},
    {TRecordField::rfCrcCalculated, "crc_calculated", TFieldPresence::fpAlways, [](const TWidth& c) { return static_cast<std::size_t>(2 + c.CrcDigits); }, true},
    {TRecordField::rfCrcOk, "crc_ok", TFieldPresence::fpAlways, [](const TWidth&) -> std::size_t { return 3; }, false},
    {TRecordField::rfTruncated, "truncated", TFieldPresence::fpAlways, [](const TWidth&) -> std::size_t { return 3; }, false},
    {TRecordField::rfCds, "cds", TFieldPresence::fpAlways, [](const TWidth&) -> std::size_t { return 1; }, true},
    // Signal numbers in the table (see WriteTableSeconds): up to 999 s with 9 decimals, 7
    // significant digits of a clock up to 99 MHz, 4 in exponent form for the line delay.
    {TRecordField::rfTime, "time", TFieldPresence::fpSignal, [](const TWidth&) -> std::size_t { return 13; }, true},
    {TRecordField::rfCdm, "cdm", TFieldPresence::fpSignal, [](const TWidth&) -> std::size_t { return 1; }, true},
    {TRecordField::rfClockHz, "clock_hz", TFieldPresence::fpSignal, [](const TWidth&) -> std::size_t { return 10; }, true},
    {TRecordField::rfLineDelay, "line_delay_s", TFieldPresence::fpSignal, [](const TWidth&) -> std::size_t { return 9; }, true},
    {TRecordField::rfScaled, "scaled", TFieldPresence::fpScale, [](const TWidth&) -> std::size_t { return 12; }, true},
    {TRecordField::rfUnit, "unit", TFieldPresence::fpScale, [](const TWidth& c) { return std::max<std::size_t>(c.UnitWidth, 1); }, false},
};

// The table lists every field once, in the order of the records (that of TRecordField), which
// is the order the record writer goes through them.
constexpr bool InRecordOrder() {
    if (std::size(Fields) != RecordFieldCount) {
        return false;
    }
    for (std::size_t i = 0; i < std::size(Fields); ++i) {
        if (static_cast<std::size_t>(Fields[i].Id) != i) {
            return false;
        }
    }
    return true;
}
static_assert(InRecordOrder());

} // namespace

std::span<const TRecordFieldInfo> RecordFields() { return Fields; }

char* WriteWindowScaled(char* p, double value) {
    // The window's text with ',' between groups of thousands; the decimal point is '.', so
    // every ',' is a group separator and is left out.
    char16_t text[MaxScaledNumberLength];
    const std::size_t size = WriteScaledNumber(value, TRegionalSeparators{u'.', u','}, text);
    for (std::size_t i = 0; i < size; ++i) {
        if (text[i] != u',') {
            *p++ = static_cast<char>(text[i]);
        }
    }
    return p;
}


std::string_view FrameInput(const TCaptureBatch& batch, const TCaptureFrame& frame) {
    const std::size_t size = batch.Text.size();
    if (frame.InputOffset > size || frame.InputSize > size - frame.InputOffset) {
        return {};
    }
    return std::string_view(batch.Text.data() + frame.InputOffset, frame.InputSize);
}

namespace {

// The record of frame bits decoded, with the CDS bit when the frame holds it.
[[gnu::always_inline]] inline TDecodedRecord DecodeBits(const TFrameLayout& layout, const TFrameBits& bits) {
    TDecodedRecord record{DecodeFrameBits(layout, bits), true};
    if (record.Fields.Outcome == TDecodeOutcome::doDecoded) {
        const std::int32_t cds = record.Fields.AckLength + 1;
        if (cds < bits.Length) { // 0 <= cds < Length: the bit without Bit()'s checks
            const auto index = static_cast<std::uint32_t>(cds);
            record.Cds = static_cast<std::int8_t>((bits.Words[index / 64] >> (63 - index % 64)) & 1U);
        }
    }
    return record;
}

// A signal capture's frame: the bits as received, however many digits hold them. Kept out of
// DecodeCaptureFrame, so that the path of hexadecimal lines stays small enough to inline.
[[gnu::noinline]] TDecodedRecord DecodeReceivedBits(const TFrameLayout& layout, const TCaptureFrame& frame,
                                                    std::string_view input) {
    TFrameBits bits;
    if (ParseFrameBitsHex(input, frame.BitCount, bits)) {
        return DecodeBits(layout, bits);
    }
    TDecodedRecord invalid;
    invalid.Fields.Outcome = TDecodeOutcome::doInvalidInput;
    return invalid;
}

} // namespace

// Flattened: the decode of the bits is inlined here whatever the size the CDS bit adds, which
// saves a call and a copy of the fields per frame.
[[gnu::flatten]] TDecodedRecord DecodeCaptureFrame(const TFrameLayout& layout, const TCaptureFrame& frame,
                                                   std::string_view input) {
    TFrameBits bits;
    switch (frame.Kind) {
    case TCaptureKind::ckHex:
        if (ParseFrameHex(input, bits)) {
            return DecodeBits(layout, bits);
        }
        break;
    case TCaptureKind::ckBits: return DecodeReceivedBits(layout, frame, input);
    case TCaptureKind::ckBissFields: return TDecodedRecord{DecodeFrameData(layout, frame.Data), false};
    case TCaptureKind::ckCut: {
        TDecodedRecord cut;
        cut.Fields.Outcome = TDecodeOutcome::doInvalidInput;
        cut.Cut = true;
        return cut;
    }
    case TCaptureKind::ckInvalid: break;
    }
    TFrameFields invalid;
    invalid.Outcome = TDecodeOutcome::doInvalidInput;
    return TDecodedRecord{invalid, true};
}

double CountAsDouble(const TFrameLayoutParams& layout, std::uint64_t count) {
    return layout.Signed ? static_cast<double>(AsSigned(count)) : static_cast<double>(count);
}

TRecordFormatter::TRecordFormatter(TOutputFormat format, const TFrameLayoutParams& layout,
                                   const TScale& scale, bool signal)
    : FFormat(format), FLayout(layout), FScale(scale) {
    const std::uint32_t poly = layout.CrcPolynomial;
    int width = 0;
    while (width < 31 && (poly >> (width + 1)) != 0) {
        ++width;
    }
    FCrcDigits = std::max(1, (width + 3) / 4);

    switch (format) {
    case TOutputFormat::ofCsv: FUnitText = CsvField(scale.Unit); break;
    case TOutputFormat::ofJsonl: FUnitText = JsonEscaped(scale.Unit); break;
    case TOutputFormat::ofTable: FUnitText = TableText(scale.Unit); break;
    }
    FUnitWidth = TableTextWidth(scale.Unit);
    // Two's complement: the multi-turn count, or the position without multi-turn bits.
    FSignedMultiTurn = layout.Signed && layout.MultiTurnBits > 0;
    FSignedPosition = layout.Signed && layout.MultiTurnBits == 0;

    const TFieldWidthContext context{layout, width, FCrcDigits, FUnitWidth};
    for (const TRecordFieldInfo& info : Fields) {
        if ((info.Presence == TFieldPresence::fpSignal && !signal) ||
            (info.Presence == TFieldPresence::fpScale && !scale.Enabled)) {
            continue;
        }
        TActiveField field;
        field.Id = info.Id;
        field.Name = info.Name;
        field.Right = info.Right;
        std::string prefix;
        if (format == TOutputFormat::ofTable) {
            const std::size_t cell = info.TableWidth(context);
            if (cell == 0) {
                continue; // no column in the table (multiturn without multi-turn bits)
            }
            field.Width = std::max(cell, info.Name.size());
        } else if (info.Id == TRecordField::rfSource) {
            // The source's start is the name (SetSourceName), written on its own.
        } else if (format == TOutputFormat::ofCsv) {
            prefix = ",";
        } else if (info.Id == TRecordField::rfInput) {
            prefix = ",\"input\":\"";
        } else {
            prefix = ",\"" + std::string(info.Name) + "\":";
        }
        std::memcpy(field.Prefix.data(), prefix.data(), prefix.size());
        field.PrefixSize = static_cast<std::uint8_t>(prefix.size());
        FSlots[static_cast<std::size_t>(info.Id)] = static_cast<std::int8_t>(FFields.size());
        FFields.push_back(field);
    }
    // Everything but the input: the numbers, the names and flags, the unit, the separators,
    // the prefixes and the fixed-size copies that run past what they leave.
    FFixedBytes = 32 * MaxNumberChars + FUnitText.size() + 2 * TShortText::Room + 256 +
                  FFields.size() * (TActiveField::Room + MaxScaledNumberLength);
    for (const TActiveField& field : FFields) {
        FFixedBytes += field.Width + 2;
    }
    switch (format) {
    case TOutputFormat::ofCsv: ChooseAppend<TOutputFormat::ofCsv>(signal, scale.Enabled); break;
    case TOutputFormat::ofJsonl: ChooseAppend<TOutputFormat::ofJsonl>(signal, scale.Enabled); break;
    case TOutputFormat::ofTable: ChooseAppend<TOutputFormat::ofTable>(signal, scale.Enabled); break;
    }
    SetSourceName("-");
}

void TRecordFormatter::SetSourceWidth(std::size_t width) {
    if (FFormat == TOutputFormat::ofTable && !FFields.empty()) {
        FFields[0].Width = std::max(width, FFields[0].Name.size());
    }
}

void TRecordFormatter::SetSourceName(std::string_view name, char separator) {
    std::string prefix;
    std::string suffix;
    switch (FFormat) {
    case TOutputFormat::ofCsv:
        if (CsvNeedsQuotes(name)) {
            // The whole field "name:line" in quotes: the quoted name without its closing quote.
            prefix = CsvField(name);
            prefix.pop_back();
            suffix.assign(1, '"');
        } else {
            prefix.assign(name);
        }
        break;
    case TOutputFormat::ofJsonl:
        prefix = "{\"source\":\"";
        prefix += JsonEscaped(name);
        suffix.assign(1, '"');
        break;
    case TOutputFormat::ofTable:
        prefix = TableText(name);
        break;
    }
    prefix += separator;
    FSourcePrefix.Assign(prefix);
    FSourceSuffix.Assign(suffix);
    FSourcePrefixWidth = TableTextWidth(prefix);
}

std::string TRecordFormatter::Header() const {
    std::string header;
    switch (FFormat) {
    case TOutputFormat::ofJsonl: break;
    case TOutputFormat::ofCsv:
        for (const TActiveField& field : FFields) {
            header += field.Name;
            header += ',';
        }
        header.back() = '\n';
        break;
    case TOutputFormat::ofTable:
        for (std::size_t i = 0; i < FFields.size(); ++i) {
            const TActiveField& column = FFields[i];
            const bool last = i + 1 == FFields.size();
            if (column.Right) {
                header.append(column.Width - column.Name.size(), ' ');
            }
            header += column.Name;
            if (!column.Right && !last) {
                header.append(column.Width - column.Name.size(), ' ');
            }
            header += last ? "\n" : "  ";
        }
        break;
    }
    return header;
}

char* TRecordFormatter::WriteScaled(char* p, std::uint64_t count) const {
    const double scaled = CountAsDouble(FLayout, count) * FScale.Factor;
    // The table shows what the window shows; CSV and JSON keep the number exact.
    return FFormat == TOutputFormat::ofTable ? WriteWindowScaled(p, scaled)
                                             : WriteShortestDouble(p, scaled);
}

char* TLineText::Write(char* p, std::uint64_t line) {
    if (FSize > 0 && line == FLine + 1) {
        std::size_t i = FSize;
        while (i > 0 && FDigits[i - 1] == '9') {
            FDigits[--i] = '0';
        }
        if (i == 0) { // 99 + 1: one more digit
            std::memmove(FDigits.data() + 1, FDigits.data(), FSize++);
            FDigits[0] = '1';
        } else {
            ++FDigits[i - 1];
        }
    } else {
        FSize = static_cast<std::size_t>(WriteUnsigned(FDigits.data(), line) - FDigits.data());
    }
    FLine = line;
    std::memcpy(p, FDigits.data(), 24); // the digits, with a copy of fixed size
    return p + FSize;
}

void TRecordFormatter::AppendRecord(TOutBuffer& out, const TCaptureFrame& frame,
                                    std::string_view input, const TDecodedRecord& record,
                                    TLineText* lines) const {
    const bool decoded = record.Fields.Outcome == TDecodeOutcome::doDecoded && !record.Cut;
    (this->*FAppend[decoded ? 1 : 0])(out, frame, input, record, lines);
}

template <TOutputFormat Format, bool Signal, bool Scale>
void TRecordFormatter::ChooseAppend() {
    FAppend[0] = &TRecordFormatter::AppendAs<Format, false, Signal, Scale>;
    FAppend[1] = &TRecordFormatter::AppendAs<Format, true, Signal, Scale>;
    FAppendBatch = &TRecordFormatter::AppendBatchAs<Format, Signal, Scale>;
}

std::uint64_t TRecordFormatter::AppendBatch(TOutBuffer& out, const TFrameLayout& layout,
                                            const TCaptureBatch& batch) const {
    return (this->*FAppendBatch)(out, layout, batch);
}

// The records of a batch with the writers of this formatter called directly: the choice of
// writer is made once per batch, and per record only whether the frame decoded.
template <TOutputFormat Format, bool Signal, bool Scale>
std::uint64_t TRecordFormatter::AppendBatchAs(TOutBuffer& out, const TFrameLayout& layout,
                                              const TCaptureBatch& batch) const {
    TLineText lines;
    std::uint64_t good = 0;
    const bool timed = !batch.Timing.empty() && batch.Timing.size() == batch.Frames.size();
    for (std::size_t i = 0; i < batch.Frames.size(); ++i) {
        const TCaptureFrame& frame = batch.Frames[i];
        const std::string_view input = FrameInput(batch, frame);
        TDecodedRecord record = DecodeCaptureFrame(layout, frame, input);
        if (timed) {
            record.Timing = &batch.Timing[i];
            if (record.Timing->Cds != TFrameTiming::CdsFromBits) {
                record.Cds = record.Timing->Cds; // records read back state it
            }
        }
        const TFrameFields& f = record.Fields;
        if (f.Outcome == TDecodeOutcome::doDecoded && !record.Cut) {
            good += f.CrcOk ? 1 : 0;
            AppendAs<Format, true, Signal, Scale>(out, frame, input, record, &lines);
        } else {
            AppendAs<Format, false, Signal, Scale>(out, frame, input, record, &lines);
        }
    }
    return good;
}

template <TOutputFormat Format> void TRecordFormatter::ChooseAppend(bool signal, bool scale) {
    if (signal) {
        scale ? ChooseAppend<Format, true, true>() : ChooseAppend<Format, true, false>();
    } else {
        scale ? ChooseAppend<Format, false, true>() : ChooseAppend<Format, false, false>();
    }
}

// One loop over the fields for every format, a case per field. The format, whether the frame
// decoded and which optional fields the records have are template arguments: each variant
// keeps only its own branches, so that the one table of fields costs a record nothing over
// writing its fields one after the other (the records of a run differ only in whether they
// decoded; the formatter picks the variant once per record).
template <TOutputFormat Format, bool Decoded, bool Signal, bool Scale>
void TRecordFormatter::AppendAs(TOutBuffer& out, const TCaptureFrame& frame,
                                std::string_view input, const TDecodedRecord& record,
                                TLineText* lines) const {
    constexpr bool csv = Format == TOutputFormat::ofCsv;
    constexpr bool json = Format == TOutputFormat::ofJsonl;
    constexpr bool table = Format == TOutputFormat::ofTable;
    const bool longInput = table && input.size() > MaxTableInput;
    const std::string_view shown = longInput ? input.substr(0, MaxTableInput - 4) : input;
    char* p = out.Reserve(FFixedBytes + FSourcePrefix.Size() + MaxEscapedSize(shown.size()));
    const TFrameFields& f = record.Fields;
    constexpr bool decoded = Decoded;
    const TFrameTiming* timing = record.Timing;
    // cdm, clock and line delay belong to frames whose bits were received.
    const bool received = timing != nullptr && frame.Kind == TCaptureKind::ckBits;
    // The position's text, which is also the count's when there are no multi-turn bits.
    char position[MaxNumberChars];
    std::size_t positionSize = 0;
    // Table: the end of the last cell with a value; the row ends there, without blanks.
    char* rowEnd = p;
    auto writeFlag = [](char* q, bool value) {
        return table ? WriteText(q, YesNo(value)) : WriteBool(q, value);
    };
    auto writeCrc = [this](char* q, std::uint16_t crc) {
        return table ? WriteHex(q, crc, FCrcDigits) : WriteUnsigned(q, crc);
    };

    // The fields in the records' order (that of TRecordField and of the table of fields), one
    // block each: a field these records leave out costs one well-predicted branch. `begin`
    // writes what the format puts before a field, `end` finishes its cell.
    const TActiveField* field = nullptr;
    char* start = p;
    std::size_t width = 0; // table: characters of the cell when they are not its bytes
    bool present = true;
    auto begin = [&](TRecordField id) {
        // Whether these records have the field, from the template arguments (the compiler
        // folds this for each field); only the table leaves out fields of its own (multiturn
        // without multi-turn bits), which its slots tell.
        const TFieldPresence presence = Fields[static_cast<std::size_t>(id)].Presence;
        if ((presence == TFieldPresence::fpSignal && !Signal) ||
            (presence == TFieldPresence::fpScale && !Scale)) {
            return false;
        }
        if (table && FSlots[static_cast<std::size_t>(id)] < 0) {
            return false;
        }
        if constexpr (csv) {
            // A comma before every field but the first, the source.
            *p = ',';
            p += id != TRecordField::rfSource ? 1 : 0;
            start = p;
            return true;
        }
        field = &FFields[static_cast<std::size_t>(FSlots[static_cast<std::size_t>(id)])];
        if constexpr (json) {
            std::memcpy(p, field->Prefix.data(), TActiveField::Room);
            p += field->PrefixSize;
        }
        start = p;
        width = 0;
        present = true;
        return true;
    };
    auto end = [&] {
        if constexpr (json) {
            if (!present) {
                std::memcpy(p, "null", 4);
                p += 4;
            }
        }
        if constexpr (table) {
            if (width == 0) {
                width = static_cast<std::size_t>(p - start);
            }
            // Pads a left-aligned cell, moves a right-aligned one to the right, and separates
            // it from the next.
            if (field->Right && width < field->Width) {
                const std::size_t pad = field->Width - width;
                std::memmove(start + pad, start, static_cast<std::size_t>(p - start));
                std::memset(start, ' ', pad);
                p += pad;
            }
            if (present) {
                rowEnd = p;
            }
            p = PadTo(p, field->Right ? field->Width : width, field->Width);
            *p++ = ' ';
            *p++ = ' ';
        }
    };
    if (begin(TRecordField::rfSource)) {
        p = FSourcePrefix.Write(p);
        const char* digits = p;
        p = lines != nullptr ? lines->Write(p, frame.Line) : WriteUnsigned(p, frame.Line);
        width = FSourcePrefixWidth + static_cast<std::size_t>(p - digits);
        p = FSourceSuffix.Write(p);
        end();
    }
    if (begin(TRecordField::rfInput)) {
        if constexpr (table) {
            if ((decoded ? DecodedInputIsPlain(frame) : InputIsPlain(frame, record)) && !longInput) {
                p = WriteText(p, shown);
                width = shown.size();
            } else {
                p = WriteTableText(p, shown);
                width = TableTextWidth(shown);
                if (longInput) {
                    p = WriteText(p, "...");
                    width += 3;
                }
            }
        } else if (decoded ? DecodedInputIsPlain(frame) : InputIsPlain(frame, record)) {
            p = WritePlainInput(p, input);
        } else {
            p = csv ? WriteCsvField(p, input) : WriteJsonEscaped(p, input);
        }
        if constexpr (json) {
            *p++ = '"';
        }
        end();
    }
    if (begin(TRecordField::rfOutcome)) {
        if constexpr (json) {
            *p++ = '"';
        }
        if constexpr (decoded) {
            p = WriteText(p, OutcomeName(TDecodeOutcome::doDecoded));
        } else {
            p = WriteText(p, record.Cut ? std::string_view("cut") : OutcomeName(f.Outcome));
        }
        if constexpr (json) {
            *p++ = '"';
        }
        end();
    }
    if (begin(TRecordField::rfAck)) {
        if (!decoded) {
            present = false;
        } else if (record.HasAck) {
            p = WriteUnsigned(p, static_cast<std::uint32_t>(f.AckLength));
        } else if constexpr (json) {
            p = WriteText(p, "null");
        } else if constexpr (table) {
            *p++ = '-';
        }
        end();
    }
    if (begin(TRecordField::rfMultiTurn)) {
        present = decoded;
        if (decoded) {
            p = WriteNumber(p, f.MultiTurn, FSignedMultiTurn);
        }
        end();
    }
    if (begin(TRecordField::rfPosition)) {
        present = decoded;
        if (decoded) {
            p = WriteNumber(p, f.Position, FSignedPosition);
            positionSize = static_cast<std::size_t>(p - start);
            std::memcpy(position, start, MaxNumberChars);
        }
        end();
    }
    if (begin(TRecordField::rfCount)) {
        present = decoded;
        if (decoded && FLayout.MultiTurnBits == 0) {
            // The position, signed or not alike: a copy of fixed size of its text.
            std::memcpy(p, position, MaxNumberChars);
            p += positionSize;
        } else if (decoded) {
            p = WriteNumber(p, f.Count, FLayout.Signed);
        }
        end();
    }
    // CSV writes two neighbouring flags with their comma in one copy (WriteCsvBoolPair); the
    // second field's block then has nothing left to write.
    if (begin(TRecordField::rfError)) {
        present = decoded;
        if constexpr (csv && decoded) {
            p = WriteCsvBoolPair(p, f.Error, f.Warning);
        } else {
            p = decoded ? writeFlag(p, f.Error) : p;
        }
        end();
    }
    if (!(csv && decoded) && begin(TRecordField::rfWarning)) {
        present = decoded;
        p = decoded ? writeFlag(p, f.Warning) : p;
        end();
    }
    if (begin(TRecordField::rfCrcReceived)) {
        present = decoded;
        p = decoded ? writeCrc(p, f.CrcReceived) : p;
        end();
    }
    if (begin(TRecordField::rfCrcCalculated)) {
        present = decoded;
        p = decoded ? writeCrc(p, f.CrcCalculated) : p;
        end();
    }
    if (begin(TRecordField::rfCrcOk)) {
        present = decoded;
        if constexpr (csv && decoded) {
            p = WriteCsvBoolPair(p, f.CrcOk, f.Truncated);
        } else {
            p = decoded ? writeFlag(p, f.CrcOk) : p;
        }
        end();
    }
    if (!(csv && decoded) && begin(TRecordField::rfTruncated)) {
        present = decoded;
        p = decoded ? writeFlag(p, f.Truncated) : p;
        end();
    }
    if (begin(TRecordField::rfCds)) {
        present = decoded && record.Cds >= 0;
        if (present) {
            *p++ = record.Cds != 0 ? '1' : '0';
        }
        end();
    }
    if (begin(TRecordField::rfTime)) {
        present = timing != nullptr;
        if (present) {
            p = table ? WriteTableSeconds(p, timing->Time) : WriteShortestDouble(p, timing->Time);
        }
        end();
    }
    if (begin(TRecordField::rfCdm)) {
        present = received;
        if (present) {
            *p++ = timing->Cdm != 0 ? '1' : '0';
        }
        end();
    }
    if (begin(TRecordField::rfClockHz)) {
        present = received;
        if (present) {
            p = table ? WriteTableHertz(p, timing->ClockHz) : WriteShortestDouble(p, timing->ClockHz);
        }
        end();
    }
    if (begin(TRecordField::rfLineDelay)) {
        present = received;
        if (present) {
            p = table ? WriteTableDelay(p, timing->LineDelay)
                      : WriteShortestDouble(p, timing->LineDelay);
        }
        end();
    }
    if (begin(TRecordField::rfScaled)) {
        present = decoded;
        if (decoded) {
            p = WriteScaled(p, f.Count);
        }
        end();
    }
    if (begin(TRecordField::rfUnit)) {
        present = decoded;
        if (decoded) {
            if constexpr (json) {
                *p++ = '"';
            }
            p = WriteText(p, FUnitText);
            width = FUnitWidth;
            if constexpr (json) {
                *p++ = '"';
            }
        }
        end();
    }
    if constexpr (table) {
        p = rowEnd;
    } else if constexpr (json) {
        *p++ = '}';
    }
    *p++ = '\n';
    out.Commit(p);
}

namespace {

struct TRecordResult final : TBatchResult {
    TOutBuffer Output;
    std::uint64_t Good = 0; // frames decoded with a good CRC
    void Release(std::size_t bytes) override { Output.Release(bytes); }
};

} // namespace

TRecordSink::TRecordSink(TOutputFormat format, const TFrameLayoutParams& layout,
                         const TScale& scale, std::size_t sourceWidth)
    : FFormat(format), FLayout(layout), FScale(scale), FSourceWidth(sourceWidth) {}

std::unique_ptr<TBatchResult> TRecordSink::NewResult() const {
    return std::make_unique<TRecordResult>();
}

void TRecordSink::Process(const TCaptureBatch& batch, TBatchResult& result) const {
    auto& r = static_cast<TRecordResult&>(result);
    r.Output.Clear();
    r.Good = FFormatter->AppendBatch(r.Output, FLayout, batch);
}

void TRecordSink::BeginInput(const TSinkInput& input, TSinkOutput& out) {
    const bool signal = IsSignalCapture(*input.Reader);
    if (!FFormatter) {
        FSignal = signal;
        FFormatter.emplace(FFormat, FLayout.Params(), FScale, signal);
        if (FSourceWidth > 0) {
            FFormatter->SetSourceWidth(FSourceWidth);
        }
        out.Write(FFormatter->Header());
    } else if (signal && !FSignal) {
        throw TInputError(0, "a signal capture cannot follow captures of frames in one run of "
                             "records (its records have more fields): decode it on its own");
    }
    FFormatter->SetSourceName(input.Name, input.Reader->SourceSeparator());
}

void TRecordSink::Consume(const TCaptureBatch&, const TBatchResult& result, std::uint64_t,
                          const TSinkInput&, TSinkOutput& out) {
    const auto& r = static_cast<const TRecordResult&>(result);
    out.Write(r.Output.View());
    FGood += r.Good;
}

int TRecordSink::Finish(std::uint64_t frames, TSinkOutput&) {
    return frames > 0 && FGood == frames ? 0 : 1;
}
