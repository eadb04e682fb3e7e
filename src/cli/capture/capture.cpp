#include "capture.h"

#include "linereader.h"
#include "readers.h"

#include <array>
#include <string>
#include <utility>

namespace {

constexpr std::array<std::pair<TInputFormat, std::string_view>, 8> FormatNames = {{
    {TInputFormat::ifAuto, "auto"},
    {TInputFormat::ifHex, "hex"},
    {TInputFormat::ifCsv, "csv"},
    {TInputFormat::ifSaleaeTable, "saleae-table"},
    {TInputFormat::ifSaleaeSpi, "saleae-spi"},
    {TInputFormat::ifSaleaeBiss, "saleae-biss"},
    {TInputFormat::ifSigrok, "sigrok"},
    {TInputFormat::ifBinary, "binary"},
}};

} // namespace

std::string_view InputFormatName(TInputFormat format) {
    for (const auto& [f, name] : FormatNames) {
        if (f == format) {
            return name;
        }
    }
    return "unknown";
}

bool ParseInputFormatName(std::string_view name, TInputFormat& format) {
    for (const auto& [f, known] : FormatNames) {
        if (known == name) {
            format = f;
            return true;
        }
    }
    return false;
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
    TInputFormat format = options.Format;
    std::string sample;
    if (format == TInputFormat::ifAuto) {
        bool complete = false;
        sample = ReadSample(source, complete);
        format = DetectInputFormat(sample, complete, options);
        if (format == TInputFormat::ifBinary && options.FrameBytes == 0) {
            throw TInputError(0, "the input looks like raw bytes (binary): give --frame-bytes N, the "
                                 "number of bytes per frame, or --input with the format it is in");
        }
    }
    const bool cuts = format == TInputFormat::ifBinary || format == TInputFormat::ifSigrok ||
                      format == TInputFormat::ifSaleaeTable || format == TInputFormat::ifSaleaeSpi;
    if (cuts && options.FrameBytes > MaxFrameBytes) {
        throw TInputError(0, "--frame-bytes " + std::to_string(options.FrameBytes) +
                                 " is more than a frame can hold; the most is " +
                                 std::to_string(MaxFrameBytes));
    }
    auto rest = std::make_unique<TPrefixedSource>(std::move(sample), source);
    switch (format) {
    case TInputFormat::ifHex:
        return MakeHexReader(std::move(rest));
    case TInputFormat::ifCsv:
        return MakeCsvReader(std::move(rest), options);
    case TInputFormat::ifSaleaeTable:
        return MakeSaleaeTableReader(std::move(rest), options);
    case TInputFormat::ifSaleaeSpi:
        return MakeSaleaeSpiReader(std::move(rest), options);
    case TInputFormat::ifSaleaeBiss:
        return MakeSaleaeBissReader(std::move(rest));
    case TInputFormat::ifSigrok:
        return MakeSigrokReader(std::move(rest), options);
    case TInputFormat::ifBinary:
        return MakeBinaryReader(std::move(rest), options);
    case TInputFormat::ifAuto:
        break;
    }
    throw TInputError(0, "unknown input format");
}
