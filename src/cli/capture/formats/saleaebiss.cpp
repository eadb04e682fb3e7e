// saleae-biss: a logic analyzer's BiSS analyzer single-cycle export (Time[s],DATA,ERR-WARN,
// CRC): each row is a ckBissFields frame with Data = {DATA, ERR-WARN, CRC} and input the three
// fields as written joined by commas. Hexadecimal ("0x"), binary ("0b") and decimal values are
// read; another value stops the input (the ASCII radix). A value that is empty or too wide
// (DATA above 64 bits, ERR-WARN above 8, CRC above 16) makes the row invalid. A row with fewer
// fields than the header is invalid too.
// Recognised by a header with the columns DATA, ERR-WARN and CRC.
#include "capture/inputformat.h"
#include "capture/readerbase.h"

namespace {

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
        switch (ReadExportNumber(text, number)) {
        case TNumberRead::nrNumber:
            return number <= most;
        case TNumberRead::nrNotNumber:
            throw NotNumberError(FRecord.Line, text);
        case TNumberRead::nrEmpty:
        case TNumberRead::nrTooWide:
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

bool Recognise(const TDetectSample& sample, const TReaderOptions&) {
    return sample.HasColumn("data") && sample.HasColumn("err-warn") && sample.HasColumn("crc");
}

std::unique_ptr<TCaptureReader> Open(std::unique_ptr<TByteSource> source, const TReaderOptions&, bool) {
    return std::make_unique<TSaleaeBissReader>(std::move(source));
}

} // namespace

extern const TInputFormatModule SaleaeBissFormat{
    .Info = {"saleae-biss", "BiSS analyzer export: each row holds one frame's fields"},
    .Recognise = Recognise,
    .Open = Open};
