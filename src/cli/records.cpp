#include "records.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

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
    return frame.Kind == TCaptureKind::ckHex &&
           record.Fields.Outcome != TDecodeOutcome::doInvalidInput;
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

} // namespace

std::string_view FrameInput(const TCaptureBatch& batch, const TCaptureFrame& frame) {
    const std::size_t size = batch.Text.size();
    if (frame.InputOffset > size || frame.InputSize > size - frame.InputOffset) {
        return {};
    }
    return std::string_view(batch.Text.data() + frame.InputOffset, frame.InputSize);
}

TDecodedRecord DecodeCaptureFrame(const TFrameLayout& layout, const TCaptureFrame& frame,
                                  std::string_view input) {
    // Each return builds the record in place, without copying the fields once more.
    if (frame.Kind == TCaptureKind::ckHex) {
        TFrameBits bits;
        if (ParseFrameHex(input, bits)) {
            return TDecodedRecord{DecodeFrameBits(layout, bits), true};
        }
    } else if (frame.Kind == TCaptureKind::ckBissFields) {
        return TDecodedRecord{DecodeFrameData(layout, frame.Data), false};
    }
    TFrameFields invalid;
    invalid.Outcome = TDecodeOutcome::doInvalidInput;
    return TDecodedRecord{invalid, true};
}

double CountAsDouble(const TFrameLayoutParams& layout, std::uint64_t count) {
    return layout.Signed ? static_cast<double>(AsSigned(count)) : static_cast<double>(count);
}

TRecordFormatter::TRecordFormatter(TOutputFormat format, const TFrameLayoutParams& layout,
                                   const TScale& scale)
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

    if (format == TOutputFormat::ofTable) {
        const std::int32_t m = layout.MultiTurnBits;
        const std::int32_t n = layout.PositionBits;
        auto add = [this](std::string title, std::size_t width, bool right) {
            width = std::max(width, title.size());
            FColumns.push_back({std::move(title), width, right});
        };
        // Frames as wide as the layout needs with the shortest ACK, and never narrower than the
        // window's 16 digits.
        const std::int32_t frameBits = 2 + 2 + m + n + layout.StatusBits + width;
        add("source", 8, false);
        add("input", static_cast<std::size_t>(std::max(16, (frameBits + 3) / 4)), false);
        add("outcome", OutcomeName(TDecodeOutcome::doNoStartBit).size(), false);
        add("ack", 3, true);
        if (m > 0) {
            add("multiturn", FieldDigits(m, layout.Signed), true);
        }
        add("position", FieldDigits(n, layout.Signed && m == 0), true);
        add("count", FieldDigits(m + n, layout.Signed), true);
        add("error", 3, false);
        add("warning", 3, false);
        add("crc_received", static_cast<std::size_t>(2 + FCrcDigits), true);
        add("crc_calculated", static_cast<std::size_t>(2 + FCrcDigits), true);
        add("crc_ok", 3, false);
        add("truncated", 3, false);
        if (scale.Enabled) {
            add("scaled", 12, true);
            add("unit", TableTextWidth(scale.Unit), false);
        }
    }
    // Everything but the input: the numbers, the names and flags, the unit, the separators.
    FFixedBytes = 32 * MaxNumberChars + FUnitText.size() + 2 * TShortText::Room + 256;
    for (const TColumn& column : FColumns) {
        FFixedBytes += column.Width + 2;
    }
    SetSourceName("-");
}

void TRecordFormatter::SetSourceWidth(std::size_t width) {
    if (!FColumns.empty()) {
        FColumns[0].Width = std::max(width, FColumns[0].Title.size());
    }
}

void TRecordFormatter::SetSourceName(std::string_view name) {
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
        suffix = "\",\"input\":\"";
        break;
    case TOutputFormat::ofTable:
        prefix = TableText(name);
        break;
    }
    prefix += ':';
    FSourcePrefix.Assign(prefix);
    FSourceSuffix.Assign(suffix);
    FSourcePrefixWidth = TableTextWidth(prefix);
}

std::string TRecordFormatter::Header() const {
    static constexpr std::string_view Names[] = {
        "source",  "input",        "outcome",        "ack",    "multiturn",
        "position", "count",       "error",          "warning", "crc_received",
        "crc_calculated", "crc_ok", "truncated"};
    std::string header;
    switch (FFormat) {
    case TOutputFormat::ofJsonl: break;
    case TOutputFormat::ofCsv:
        for (const std::string_view name : Names) {
            header += name;
            header += ',';
        }
        header.pop_back();
        header += FScale.Enabled ? ",scaled,unit\n" : "\n";
        break;
    case TOutputFormat::ofTable:
        for (std::size_t i = 0; i < FColumns.size(); ++i) {
            const TColumn& column = FColumns[i];
            const bool last = i + 1 == FColumns.size();
            if (column.Right) {
                header.append(column.Width - column.Title.size(), ' ');
            }
            header += column.Title;
            if (!column.Right && !last) {
                header.append(column.Width - column.Title.size(), ' ');
            }
            header += last ? "\n" : "  ";
        }
        break;
    }
    return header;
}

char* TRecordFormatter::WriteMultiTurn(char* p, std::uint64_t value) const {
    return FLayout.Signed && FLayout.MultiTurnBits > 0 ? WriteSigned(p, AsSigned(value))
                                                       : WriteUnsigned(p, value);
}

char* TRecordFormatter::WritePosition(char* p, std::uint64_t value) const {
    return FLayout.Signed && FLayout.MultiTurnBits == 0 ? WriteSigned(p, AsSigned(value))
                                                        : WriteUnsigned(p, value);
}

char* TRecordFormatter::WriteCount(char* p, std::uint64_t value) const {
    return FLayout.Signed ? WriteSigned(p, AsSigned(value)) : WriteUnsigned(p, value);
}

template <std::size_t N>
char* TRecordFormatter::WritePositionAndCount(char* p, const TFrameFields& f,
                                              const char (&between)[N]) const {
    char* position = p;
    p = WritePosition(p, f.Position);
    const std::size_t size = static_cast<std::size_t>(p - position);
    std::memcpy(p, between, N - 1);
    p += N - 1;
    if (FLayout.MultiTurnBits != 0) {
        return WriteCount(p, f.Count);
    }
    // Without multi-turn bits the count is the position, signed or not alike: copy its text,
    // through a fixed-size copy of the longest number (the buffer has room to spare).
    char text[MaxNumberChars];
    std::memcpy(text, position, MaxNumberChars);
    std::memcpy(p, text, MaxNumberChars);
    return p + size;
}

char* TRecordFormatter::WriteScaled(char* p, std::uint64_t count) const {
    const double scaled = CountAsDouble(FLayout, count) * FScale.Factor;
    return FFormat == TOutputFormat::ofTable ? WriteFixedDouble(p, scaled, 4)
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
    switch (FFormat) {
    case TOutputFormat::ofCsv: AppendCsv(out, frame, input, record, lines); break;
    case TOutputFormat::ofJsonl: AppendJson(out, frame, input, record, lines); break;
    case TOutputFormat::ofTable: AppendTable(out, frame, input, record, lines); break;
    }
}

void TRecordFormatter::AppendCsv(TOutBuffer& out, const TCaptureFrame& frame,
                                 std::string_view input, const TDecodedRecord& record,
                                 TLineText* lines) const {
    char* p = out.Reserve(FFixedBytes + FSourcePrefix.Size() + MaxEscapedSize(input.size()));
    p = FSourcePrefix.Write(p);
    p = lines != nullptr ? lines->Write(p, frame.Line) : WriteUnsigned(p, frame.Line);
    p = FSourceSuffix.Write(p);
    *p++ = ',';
    p = InputIsPlain(frame, record) ? WritePlainInput(p, input) : WriteCsvField(p, input);
    const TFrameFields& f = record.Fields;
    if (f.Outcome != TDecodeOutcome::doDecoded) {
        p = WriteText(p, f.Outcome == TDecodeOutcome::doNoStartBit ? ",no_start_bit,,,,,,,,,,"
                                                                   : ",invalid,,,,,,,,,,");
        if (FScale.Enabled) {
            p = WriteText(p, ",,");
        }
        *p++ = '\n';
        out.Commit(p);
        return;
    }
    p = WriteText(p, ",decoded,");
    if (record.HasAck) {
        p = WriteUnsigned(p, static_cast<std::uint32_t>(f.AckLength));
    }
    *p++ = ',';
    p = WriteMultiTurn(p, f.MultiTurn);
    *p++ = ',';
    p = WritePositionAndCount(p, f, ",");
    *p++ = ',';
    p = WriteCsvBoolPair(p, f.Error, f.Warning);
    *p++ = ',';
    p = WriteUnsigned(p, f.CrcReceived);
    *p++ = ',';
    p = WriteUnsigned(p, f.CrcCalculated);
    *p++ = ',';
    p = WriteCsvBoolPair(p, f.CrcOk, f.Truncated);
    if (FScale.Enabled) {
        *p++ = ',';
        p = WriteScaled(p, f.Count);
        *p++ = ',';
        p = WriteText(p, FUnitText);
    }
    *p++ = '\n';
    out.Commit(p);
}

void TRecordFormatter::AppendJson(TOutBuffer& out, const TCaptureFrame& frame,
                                  std::string_view input, const TDecodedRecord& record,
                                  TLineText* lines) const {
    char* p = out.Reserve(FFixedBytes + FSourcePrefix.Size() + MaxEscapedSize(input.size()));
    p = FSourcePrefix.Write(p); // {"source":"name:
    p = lines != nullptr ? lines->Write(p, frame.Line) : WriteUnsigned(p, frame.Line);
    p = FSourceSuffix.Write(p); // ","input":"
    p = InputIsPlain(frame, record) ? WritePlainInput(p, input) : WriteJsonEscaped(p, input);
    const TFrameFields& f = record.Fields;
    if (f.Outcome != TDecodeOutcome::doDecoded) {
        p = WriteText(p, f.Outcome == TDecodeOutcome::doNoStartBit
                             ? "\",\"outcome\":\"no_start_bit\""
                             : "\",\"outcome\":\"invalid\"");
        p = WriteText(p, ",\"ack\":null,\"multiturn\":null,\"position\":null,\"count\":null,"
                         "\"error\":null,\"warning\":null,\"crc_received\":null,"
                         "\"crc_calculated\":null,\"crc_ok\":null,\"truncated\":null");
        if (FScale.Enabled) {
            p = WriteText(p, ",\"scaled\":null,\"unit\":null");
        }
        p = WriteText(p, "}\n");
        out.Commit(p);
        return;
    }
    p = WriteText(p, "\",\"outcome\":\"decoded\",\"ack\":");
    p = record.HasAck ? WriteUnsigned(p, static_cast<std::uint32_t>(f.AckLength))
                      : WriteText(p, "null");
    p = WriteText(p, ",\"multiturn\":");
    p = WriteMultiTurn(p, f.MultiTurn);
    p = WriteText(p, ",\"position\":");
    p = WritePositionAndCount(p, f, ",\"count\":");
    p = WriteText(p, ",\"error\":");
    p = WriteBool(p, f.Error);
    p = WriteText(p, ",\"warning\":");
    p = WriteBool(p, f.Warning);
    p = WriteText(p, ",\"crc_received\":");
    p = WriteUnsigned(p, f.CrcReceived);
    p = WriteText(p, ",\"crc_calculated\":");
    p = WriteUnsigned(p, f.CrcCalculated);
    p = WriteText(p, ",\"crc_ok\":");
    p = WriteBool(p, f.CrcOk);
    p = WriteText(p, ",\"truncated\":");
    p = WriteBool(p, f.Truncated);
    if (FScale.Enabled) {
        p = WriteText(p, ",\"scaled\":");
        p = WriteScaled(p, f.Count);
        p = WriteText(p, ",\"unit\":\"");
        p = WriteText(p, FUnitText);
        *p++ = '"';
    }
    p = WriteText(p, "}\n");
    out.Commit(p);
}

void TRecordFormatter::AppendTable(TOutBuffer& out, const TCaptureFrame& frame,
                                   std::string_view input, const TDecodedRecord& record,
                                   TLineText* lines) const {
    const bool longInput = input.size() > MaxTableInput;
    const std::string_view shown = longInput ? input.substr(0, MaxTableInput - 4) : input;
    char* p = out.Reserve(FFixedBytes + FSourcePrefix.Size() + MaxEscapedSize(shown.size()));
    const TFrameFields& f = record.Fields;
    const bool decoded = f.Outcome == TDecodeOutcome::doDecoded;

    std::size_t column = 0;
    // Ends the cell that started at `start` with `width` characters: pads a left-aligned
    // cell, moves a right-aligned one to the right, and separates it from the next.
    auto endCell = [this, &p, &column](char* start, std::size_t width) {
        const TColumn& c = FColumns[column++];
        const bool last = column == FColumns.size();
        if (c.Right && width < c.Width) {
            const std::size_t pad = c.Width - width;
            std::memmove(start + pad, start, static_cast<std::size_t>(p - start));
            std::memset(start, ' ', pad);
            p += pad;
        } else if (!last) {
            p = PadTo(p, width, c.Width);
        }
        p = WriteText(p, last ? "\n" : "  ");
    };
    auto textCell = [&](std::string_view text) {
        char* start = p;
        p = WriteText(p, text);
        endCell(start, text.size());
    };
    auto numberCell = [&](auto write) {
        char* start = p;
        p = write(p);
        endCell(start, static_cast<std::size_t>(p - start));
    };

    char* start = p;
    p = FSourcePrefix.Write(p);
    const char* digits = p;
    p = lines != nullptr ? lines->Write(p, frame.Line) : WriteUnsigned(p, frame.Line);
    endCell(start, FSourcePrefixWidth + static_cast<std::size_t>(p - digits));

    start = p;
    std::size_t inputWidth = 0;
    if (InputIsPlain(frame, record) && !longInput) {
        p = WriteText(p, shown);
        inputWidth = shown.size();
    } else {
        p = WriteTableText(p, shown);
        inputWidth = TableTextWidth(shown);
        if (longInput) {
            p = WriteText(p, "...");
            inputWidth += 3;
        }
    }
    endCell(start, inputWidth);
    if (!decoded) {
        // Only source, input and outcome: the row ends there, without trailing blanks.
        p = WriteText(p, OutcomeName(f.Outcome));
        *p++ = '\n';
        out.Commit(p);
        return;
    }
    textCell(OutcomeName(f.Outcome));
    if (record.HasAck) {
        numberCell([&](char* q) { return WriteUnsigned(q, static_cast<std::uint32_t>(f.AckLength)); });
    } else {
        textCell("-");
    }
    if (FLayout.MultiTurnBits > 0) {
        numberCell([&](char* q) { return WriteMultiTurn(q, f.MultiTurn); });
    }
    numberCell([&](char* q) { return WritePosition(q, f.Position); });
    numberCell([&](char* q) { return WriteCount(q, f.Count); });
    textCell(YesNo(f.Error));
    textCell(YesNo(f.Warning));
    numberCell([&](char* q) { return WriteHex(q, f.CrcReceived, FCrcDigits); });
    numberCell([&](char* q) { return WriteHex(q, f.CrcCalculated, FCrcDigits); });
    textCell(YesNo(f.CrcOk));
    textCell(YesNo(f.Truncated));
    if (FScale.Enabled) {
        numberCell([&](char* q) { return WriteScaled(q, f.Count); });
        textCell(FUnitText);
    }
    out.Commit(p);
}
