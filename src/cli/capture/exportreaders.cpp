// The readers of logic analyzer exports: Saleae Logic's data table, its SPI analyzer and BiSS
// analyzer exports, and sigrok-cli's SPI annotations.
#include "csvrecords.h"
#include "readers.h"

namespace {

// A reader whose rows complete frames through a queue: a row may complete none (inside a
// span) or several (a long value cut by --frame-bytes).
class TQueuedReader : public TCaptureReader {
public:
    bool ReadBatch(TCaptureBatch& batch, std::size_t maxFrames) override {
        const std::size_t before = batch.Frames.size();
        const std::size_t limit = before + std::min(maxFrames, SIZE_MAX - before);
        const std::size_t textLimit = batch.Text.size() + MaxBatchTextBytes;
        for (;;) {
            FQueue.MoveTo(batch, limit, textLimit);
            const bool full = batch.Frames.size() >= limit || batch.Text.size() >= textLimit;
            if (full || FEnded) {
                break;
            }
            if (!ReadRow()) {
                FAssembler.Finish();
                FEnded = true;
            }
        }
        batch.BytesConsumed = FLines.BytesConsumed();
        return batch.Frames.size() > before;
    }

protected:
    TQueuedReader(std::unique_ptr<TByteSource> source, std::uint32_t frameBytes)
        : FSource(std::move(source)), FLines(*FSource), FAssembler(FQueue, frameBytes) {}

    // Reads the next row or line into the queue or the assembler; false at the end.
    virtual bool ReadRow() = 0;

    std::unique_ptr<TByteSource> FSource;
    TLineReader FLines;
    TFrameQueue FQueue;
    TFrameAssembler FAssembler;
    bool FEnded = false;
};

// An export in CSV form: its header row read and checked on opening.
class TCsvExportReader : public TQueuedReader {
protected:
    TCsvExportReader(std::unique_ptr<TByteSource> source, std::uint32_t frameBytes)
        : TQueuedReader(std::move(source), frameBytes), FRecords(FLines) {}

    // Reads the header row into FHeaderNames; false for an empty input.
    bool ReadHeader(const char* what) {
        TCsvRecord header;
        if (!FRecords.Next(header)) {
            FEnded = true;
            return false;
        }
        FHeaderLine = header.Line;
        if (header.TooLong || header.Unterminated) {
            throw TInputError(header.Line, std::string("the header row of the ") + what +
                                               " cannot be read: it is overlong or a quote is never closed");
        }
        FRecords.SetDelimiter(DetectCsvDelimiter(header.Raw));
        FRecords.Resplit(header);
        FHeaderNames.assign(header.Fields.begin(), header.Fields.end());
        return true;
    }

    // The index of a column the format needs; throws when the header lacks it.
    std::size_t NeedColumn(std::string_view name, const char* what, bool chosen) const {
        std::vector<std::string_view> names(FHeaderNames.begin(), FHeaderNames.end());
        const int index = FindColumn(names, name);
        if (index < 0) {
            std::string message = std::string("the header of the ") + what + " has no column \"" +
                                  std::string(name) + "\"; its columns are " + ListColumns(names);
            if (chosen) {
                message += "; choose one with --column";
            }
            throw TInputError(FHeaderLine, message);
        }
        return static_cast<std::size_t>(index);
    }

    // Reads a row's data value into the assembler.
    void AddValue(std::string_view value) {
        FDigits.clear();
        switch (ReadByteValue(value, FDigits)) {
        case TValueRead::vrDigits:
            FAssembler.AddDigits(FDigits, FRecord.Line);
            break;
        case TValueRead::vrEmpty:
            FAssembler.AddUnreadable(FRecord.Raw, FRecord.Line);
            break;
        case TValueRead::vrNotNumber:
            throw NotNumberError(FRecord.Line, value);
        case TValueRead::vrTooWide:
            throw TInputError(FRecord.Line, "the decimal value \"" + std::string(LongTextStart(TrimBlanks(value))) +
                                                "\" is wider than a byte and its width is not written; "
                                                "export it again in hexadecimal");
        }
    }

    // Reads the next record; an unreadable one goes to the assembler, a readable one to
    // ReadFields. The exports write every column in every row, so a row with fewer fields
    // than the header was cut or damaged.
    bool ReadRow() final {
        if (!FRecords.Next(FRecord)) {
            return false;
        }
        if (FRecord.TooLong) {
            FAssembler.AddLongUnreadable(FRecord.Raw, FRecord.Line);
        } else if (FRecord.Unterminated || FRecord.Fields.size() < FHeaderNames.size()) {
            FAssembler.AddUnreadable(FRecord.Raw, FRecord.Line);
        } else {
            ReadFields();
        }
        return true;
    }

    // Reads FRecord, which has every column.
    virtual void ReadFields() = 0;

    TCsvRecordReader FRecords;
    TCsvRecord FRecord;
    std::vector<std::string> FHeaderNames;
    std::uint64_t FHeaderLine = 0;
    std::string FDigits;
};

// Saleae Logic 2's data table: rows of every analyzer, the SPI analyzer's enable, result,
// disable and error rows among them.
class TSaleaeTableReader final : public TCsvExportReader {
public:
    TSaleaeTableReader(std::unique_ptr<TByteSource> source, const TReaderOptions& options)
        : TCsvExportReader(std::move(source), options.FrameBytes) {
        const char* what = "data table export";
        if (!ReadHeader(what)) {
            return;
        }
        FName = NeedColumn("name", what, false);
        FType = NeedColumn("type", what, false);
        FData = NeedColumn(WantedColumn(options), what, true);
    }

    std::string_view Format() const override { return "saleae-table"; }

protected:
    void ReadFields() override {
        const std::string_view type = TrimBlanks(FRecord.Fields[FType]);
        // enable, disable and result are the SPI analyzer's own; error is also I2S's.
        const bool spiOnly = type == "enable" || type == "disable" || type == "result";
        if (!spiOnly && type != "error") {
            return; // another analyzer's row
        }
        const std::string_view name = TrimBlanks(FRecord.Fields[FName]);
        if (!FHaveAnalyzer) {
            if (!spiOnly) {
                return; // not known to be the SPI analyzer's yet
            }
            FAnalyzer.assign(name);
            FHaveAnalyzer = true;
        } else if (name != FAnalyzer) {
            return; // another analyzer's
        }
        if (type == "enable") {
            FAssembler.Open(FRecord.Line);
        } else if (type == "disable") {
            FAssembler.Close();
        } else if (type == "error") {
            FAssembler.AddUnreadable(FRecord.Raw, FRecord.Line);
        } else {
            AddValue(FRecord.Fields[FData]);
        }
    }

private:
    std::size_t FName = 0;
    std::size_t FType = 0;
    std::size_t FData = 0;
    std::string FAnalyzer;
    bool FHaveAnalyzer = false;
};

// The SPI analyzer's export of Saleae Logic 1: Time [s],Packet ID,MOSI,MISO.
class TSaleaeSpiReader final : public TCsvExportReader {
public:
    TSaleaeSpiReader(std::unique_ptr<TByteSource> source, const TReaderOptions& options)
        : TCsvExportReader(std::move(source), options.FrameBytes) {
        const char* what = "SPI analyzer export";
        if (!ReadHeader(what)) {
            return;
        }
        FPacket = NeedColumn("packet id", what, false);
        FData = NeedColumn(WantedColumn(options), what, true);
    }

    std::string_view Format() const override { return "saleae-spi"; }

protected:
    void ReadFields() override {
        const std::string_view packet = TrimBlanks(FRecord.Fields[FPacket]);
        if (packet.empty()) {
            // Not in a packet (no enable channel): a frame of its own, or part of the stream.
            FAssembler.Close();
        } else if (!FAssembler.IsOpen() || packet != FPacketId) {
            FAssembler.Open(FRecord.Line);
            FPacketId.assign(packet);
        }
        AddValue(FRecord.Fields[FData]);
    }

private:
    std::size_t FPacket = 0;
    std::size_t FData = 0;
    std::string FPacketId;
};

// The BiSS analyzer's single-cycle export: Time[s],DATA,ERR-WARN,CRC, one frame a row.
class TSaleaeBissReader final : public TCsvExportReader {
public:
    explicit TSaleaeBissReader(std::unique_ptr<TByteSource> source)
        : TCsvExportReader(std::move(source), 0) {
        const char* what = "BiSS analyzer export";
        if (!ReadHeader(what)) {
            return;
        }
        FValue = NeedColumn("data", what, false);
        FStatus = NeedColumn("err-warn", what, false);
        FCrc = NeedColumn("crc", what, false);
    }

    std::string_view Format() const override { return "saleae-biss"; }

protected:
    void ReadFields() override {
        const std::string_view value = TrimBlanks(FRecord.Fields[FValue]);
        const std::string_view status = TrimBlanks(FRecord.Fields[FStatus]);
        const std::string_view crc = TrimBlanks(FRecord.Fields[FCrc]);
        FInput.assign(value);
        FInput += ',';
        FInput += status;
        FInput += ',';
        FInput += crc;
        TFrameData data;
        bool ok = true;
        std::uint64_t number = 0;
        ok = ReadField(value, number, ~std::uint64_t{0}) && ok;
        data.Value = number;
        ok = ReadField(status, number, 0xFF) && ok;
        data.Status = static_cast<std::uint8_t>(number);
        ok = ReadField(crc, number, 0xFFFF) && ok;
        data.Crc = static_cast<std::uint16_t>(number);
        FQueue.Push(FRecord.Line, ok ? TCaptureKind::ckBissFields : TCaptureKind::ckInvalid, FInput, data);
    }

private:
    // Reads one field; false when it is empty or above `most`.
    bool ReadField(std::string_view text, std::uint64_t& number, std::uint64_t most) {
        switch (ReadNumber(text, number)) {
        case TValueRead::vrDigits:
            return number <= most;
        case TValueRead::vrNotNumber:
            throw NotNumberError(FRecord.Line, text);
        case TValueRead::vrEmpty:
        case TValueRead::vrTooWide:
            break;
        }
        number = 0;
        return false;
    }

    std::size_t FValue = 0;
    std::size_t FStatus = 0;
    std::size_t FCrc = 0;
    std::string FInput;
};

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// sigrok-cli's annotation lines: [START-END ]ID: [CLASS: ]TEXT, TEXT in quotes at higher
// verbosity; the SPI decoder's text is hexadecimal words separated by blanks.
class TSigrokReader final : public TQueuedReader {
public:
    TSigrokReader(std::unique_ptr<TByteSource> source, const TReaderOptions& options)
        : TQueuedReader(std::move(source), options.FrameBytes) {}

    std::string_view Format() const override { return "sigrok"; }

protected:
    bool ReadRow() override {
        TLinePiece piece;
        if (!FLines.Next(piece)) {
            return false;
        }
        if (!piece.First || !piece.Last || piece.Text.size() > MaxLineBytes) {
            if (piece.First) {
                FLongLine = piece.Line;
                FLongStart.assign(LongTextStart(piece.Text));
            }
            if (piece.Last) {
                FAssembler.AddLongUnreadable(FLongStart, FLongLine);
            }
            return true;
        }
        const std::string_view line = TrimBlanks(piece.Text);
        if (line.empty()) {
            return true;
        }
        std::string_view instance;
        FDigits.clear();
        if (!ParseSigrokLine(line, instance, FDigits)) {
            FAssembler.AddUnreadable(piece.Text, piece.Line);
            return true;
        }
        if (!FHaveInstance) {
            FInstance.assign(instance);
            FHaveInstance = true;
        } else if (instance != FInstance) {
            return true; // another decoder's line
        }
        FAssembler.AddDigits(FDigits, piece.Line);
        return true;
    }

private:
    std::string FDigits;
    std::string FInstance;
    bool FHaveInstance = false;
    std::uint64_t FLongLine = 0;
    std::string FLongStart;

public:
    // Reads one annotation line into the decoder instance and the hexadecimal digits of its
    // text; false when it is not such a line or its text is not hexadecimal words.
    static bool ParseSigrokLine(std::string_view line, std::string_view& instance, std::string& digits);
};

bool TSigrokReader::ParseSigrokLine(std::string_view line, std::string_view& instance,
                                    std::string& digits) {
    std::size_t i = 0;
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    // Sample numbers: START-END and a blank.
    if (i < line.size() && isDigit(line[i])) {
        std::size_t j = i;
        while (j < line.size() && isDigit(line[j])) {
            ++j;
        }
        if (j < line.size() && line[j] == '-') {
            std::size_t k = j + 1;
            while (k < line.size() && isDigit(line[k])) {
                ++k;
            }
            if (k > j + 1 && k < line.size() && line[k] == ' ') {
                i = k + 1;
            }
        }
    }
    // The decoder instance: a word and ": ".
    const std::size_t colon = line.find(':', i);
    if (colon == std::string_view::npos || colon == i || colon + 1 >= line.size() || line[colon + 1] != ' ') {
        return false;
    }
    instance = line.substr(i, colon - i);
    for (const char c : instance) {
        if (IsBlankByte(c) || c == '"') {
            return false;
        }
    }
    std::string_view text = line.substr(colon + 2);
    const std::size_t quote = text.find('"');
    if (quote != std::string_view::npos) {
        // At higher verbosity the text stands in quotes, after the class name.
        const std::size_t close = text.find('"', quote + 1);
        if (close == std::string_view::npos) {
            return false;
        }
        text = text.substr(quote + 1, close - quote - 1);
    }
    bool any = false;
    for (const char c : text) {
        if (IsHexDigit(c)) {
            digits.push_back(c);
            any = true;
        } else if (!IsBlankByte(c)) {
            return false;
        }
    }
    return any;
}

} // namespace

std::unique_ptr<TCaptureReader> MakeSaleaeTableReader(std::unique_ptr<TByteSource> source,
                                                      const TReaderOptions& options) {
    return std::make_unique<TSaleaeTableReader>(std::move(source), options);
}

std::unique_ptr<TCaptureReader> MakeSaleaeSpiReader(std::unique_ptr<TByteSource> source,
                                                    const TReaderOptions& options) {
    return std::make_unique<TSaleaeSpiReader>(std::move(source), options);
}

std::unique_ptr<TCaptureReader> MakeSaleaeBissReader(std::unique_ptr<TByteSource> source) {
    return std::make_unique<TSaleaeBissReader>(std::move(source));
}

std::unique_ptr<TCaptureReader> MakeSigrokReader(std::unique_ptr<TByteSource> source,
                                                 const TReaderOptions& options) {
    return std::make_unique<TSigrokReader>(std::move(source), options);
}

bool ParseSigrokAnnotation(std::string_view line, std::string_view& instance, std::string& digits) {
    return TSigrokReader::ParseSigrokLine(TrimBlanks(line), instance, digits);
}
