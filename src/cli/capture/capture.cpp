#include "capture.h"

#include "linereader.h"
#include "readers.h"

#include <array>
#include <string>
#include <utility>

namespace {

const TInputFormatInfo Infos[] = {
    {"hex", "one frame per line as hexadecimal text"},
    {"csv", "any CSV with a header row; the frame is the hex text in the chosen column"},
    {"saleae-table", "a logic analyzer's data-table export: enable ... disable spans of bytes"},
    {"saleae-spi", "a logic analyzer's SPI export: rows with the same packet id form a frame"},
    {"saleae-biss", "a logic analyzer's BiSS export: each row holds the fields of one frame"},
    {"sigrok", "sigrok-cli SPI annotation lines"},
    {"binary", "raw bytes, a fixed number per frame"},
};

} // namespace

const std::vector<const TInputFormatInfo*>& InputFormats() {
    static const std::vector<const TInputFormatInfo*> formats = [] {
        std::vector<const TInputFormatInfo*> list;
        for (const TInputFormatInfo& info : Infos) {
            list.push_back(&info);
        }
        return list;
    }();
    return formats;
}

const TInputFormatInfo* FindInputFormat(std::string_view name) {
    for (const TInputFormatInfo* info : InputFormats()) {
        if (info->Name == name) {
            return info;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Recognising the format and opening a reader.

namespace {

constexpr std::size_t SampleBytes = DetectSampleBytes;
constexpr std::size_t SampleLines = DetectSampleLines;

// Reads the start of `source`: SampleLines non-blank lines, SampleBytes, or all of it. Lines
// are counted as DetectInputFormat counts them (after a byte order mark), so that what it
// sees does not depend on how many bytes each read returns.
std::string ReadSample(TByteSource& source, bool& complete) {
    std::string sample(SampleBytes, '\0');
    std::size_t size = 0;
    std::size_t counted = 0; // bytes looked at for line ends; 0 until the mark is known
    bool started = false;
    std::size_t lines = 0;
    bool lineHasText = false;
    complete = false;
    while (size < SampleBytes && lines < SampleLines) {
        const std::size_t n = source.Read(sample.data() + size, SampleBytes - size);
        complete = n == 0;
        size += n;
        if (!started && (size >= 3 || complete)) {
            started = true;
            counted = std::string_view(sample.data(), size).substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
        }
        for (; started && counted < size && lines < SampleLines; ++counted) {
            const char c = sample[counted];
            if (c == '\n') {
                lines += lineHasText ? 1 : 0;
                lineHasText = false;
            } else if (!IsBlankByte(c)) {
                lineHasText = true;
            }
        }
        if (complete) {
            break;
        }
    }
    sample.resize(size);
    return sample;
}

} // namespace

std::unique_ptr<TCaptureReader> OpenCaptureReader(TByteSource& source, const TReaderOptions& options) {
    std::string_view format = options.Format;
    std::string sample;
    if (format == "auto") {
        bool complete = false;
        sample = ReadSample(source, complete);
        format = DetectInputFormat(sample, complete, options);
        if (format == "binary" && options.FrameBytes == 0) {
            throw TInputError(0, "the input looks like raw bytes (binary): give --frame-bytes N, the "
                                 "number of bytes per frame, or --input with the format it is in");
        }
    }
    const bool cuts = format == "binary" || format == "sigrok" ||
                      format == "saleae-table" || format == "saleae-spi";
    if (cuts && options.FrameBytes > MaxFrameBytes) {
        throw TInputError(0, "--frame-bytes " + std::to_string(options.FrameBytes) +
                                 " is more than a frame can hold; the most is " +
                                 std::to_string(MaxFrameBytes));
    }
    auto rest = std::make_unique<TPrefixedSource>(std::move(sample), source);
    if (format == "hex") {
        return MakeHexReader(std::move(rest));
    } else if (format == "csv") {
        return MakeCsvReader(std::move(rest), options);
    } else if (format == "saleae-table") {
        return MakeSaleaeTableReader(std::move(rest), options);
    } else if (format == "saleae-spi") {
        return MakeSaleaeSpiReader(std::move(rest), options);
    } else if (format == "saleae-biss") {
        return MakeSaleaeBissReader(std::move(rest));
    } else if (format == "sigrok") {
        return MakeSigrokReader(std::move(rest), options);
    } else if (format == "binary") {
        return MakeBinaryReader(std::move(rest), options);
    }
    throw TInputError(0, "unknown input format");
}
