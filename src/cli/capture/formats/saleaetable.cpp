// saleae-table: a logic analyzer's data-table export (name,type,start_time[,duration],...,
// "mosi","miso"): enable ... disable spans of bytes.
//
// Rows of type enable, result, disable and error belong to the SPI analyzer; the analyzer is
// the `name` of the first enable, disable or result row (error rows before it are taken for
// another analyzer's, as I2S writes them too), and rows of other names or other types (other
// analyzers) are ignored. The values of the data column from an enable row to the next disable
// row are one frame, in order, its line the enable row's. A new enable before the disable ends
// the open frame first; a frame still open at the end of the input is delivered as it is. An
// enable/disable pair without any result row is no frame. Result rows outside any
// enable/disable span (no enable channel) are one frame each.
// Values: hexadecimal ("0xC0", or several bytes as one token "0xC004C9BA71753000"), its
// digits kept as written; decimal bytes (0 to 255, several separated by blanks); binary
// ("0b11000000", left-padded with zeros to whole bytes); decimal and binary bytes become two
// uppercase hexadecimal digits each in the frame. A decimal value above 255 stops the input
// (its width is not written), and so does any other value that is not empty and not a number:
// the ASCII radix; both messages say to export in hexadecimal.
// --frame-bytes N cuts each span or packet, and the run of values outside them, into frames of
// N bytes; the line of a frame is the line of its first byte; a trailing partial frame is an
// invalid frame with its digits, never dropped.
// A row that cannot be read (fewer fields than the header, as the exports write every column
// in every row; an empty value; an error row; a row longer than MaxLineBytes) joins the frame
// being built, which becomes invalid with input: its digits so far, a blank and the row as
// read; it ends a frame being cut by --frame-bytes. With no frame being built it is an
// invalid frame of its own. So frames come out in the order of their line.
// Recognised by a header with the columns name, type and start_time.
#include "capture/inputformat.h"
#include "capture/readerbase.h"

namespace {

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

bool Recognise(const TDetectSample& sample, const TReaderOptions&) {
    return sample.HasColumn("name") && sample.HasColumn("type") && sample.HasColumn("start_time");
}

std::unique_ptr<TCaptureReader> Open(std::unique_ptr<TByteSource> source, const TReaderOptions& options, bool) {
    return std::make_unique<TSaleaeTableReader>(std::move(source), options);
}

} // namespace

extern const TInputFormatModule SaleaeTableFormat{
    .Info = {"saleae-table", "Logic 2 data-table export: enable ... disable spans of bytes"},
    .Recognise = Recognise,
    .Open = Open,
    .CutsFrames = true,
    .ReadsColumn = true};
