// saleae-spi: a logic analyzer's SPI export (Time [s],Packet ID,MOSI,MISO): consecutive rows
// with the same Packet ID are one frame, its line the first row's. Rows without a Packet ID
// (no enable channel) are one frame each.
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
// Recognised by a header with the columns Time [s] and Packet ID.
#include "capture/inputformat.h"
#include "capture/readerbase.h"

namespace {

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

bool Recognise(const TDetectSample& sample, const TReaderOptions&) {
    return sample.HasColumn("time [s]") && sample.HasColumn("packet id");
}

std::unique_ptr<TCaptureReader> Open(std::unique_ptr<TByteSource> source, const TReaderOptions& options, bool) {
    return std::make_unique<TSaleaeSpiReader>(std::move(source), options);
}

} // namespace

extern const TInputFormatModule SaleaeSpiFormat{
    .Info = {"saleae-spi", "SPI analyzer export: the rows of one packet id form a frame"},
    .Recognise = Recognise,
    .Open = Open,
    .CutsFrames = true,
    .ReadsColumn = true};
