// sigrok: sigrok-cli annotation lines of the SPI decoder, one data line: "spi-1: C0 04 C9",
// optionally after sample numbers ("20-284 spi-1: C0") and with the text in quotes after an
// annotation class name at higher verbosity ('20-284 spi-1: MISO transfer: "C0 04"'). The
// decoder instance of the first line is read; lines of other instances are ignored. A line is
// one frame; with --frame-bytes the bytes of all lines are one stream cut into frames. A line
// that is not hex bytes is unreadable (see the assembler in batchappend.h).
// Recognised when the first non-blank line is shaped like such an annotation line.
#include "capture/inputformat.h"
#include "capture/readerbase.h"

namespace {

// sigrok-cli's annotation lines: [START-END ]ID: [CLASS: ]TEXT, TEXT in quotes at higher
// verbosity; the SPI decoder's text is hexadecimal words separated by blanks.
class TSigrokReader final : public TQueuedReader {
public:
    TSigrokReader(std::unique_ptr<TByteSource> source, const TReaderOptions& options)
        : TQueuedReader(std::move(source), options.FrameBytes) {}

    std::string_view Format() const override { return "sigrok"; }

protected:
    bool ReadRow() override {
        TTextLine piece;
        if (!NextLine(piece)) {
            return false;
        }
        if (piece.TooLong) {
            FAssembler.AddUnreadable(piece.Text, piece.Line);
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
    return AppendHexWords(text, digits);
}

bool Recognise(const TDetectSample& sample, const TReaderOptions&) {
    std::string_view instance;
    std::string digits;
    return !sample.Lines.empty() && TSigrokReader::ParseSigrokLine(sample.Lines.front().Text, instance, digits);
}

std::unique_ptr<TCaptureReader> Open(std::unique_ptr<TByteSource> source, const TReaderOptions& options, bool) {
    return std::make_unique<TSigrokReader>(std::move(source), options);
}

} // namespace

extern const TInputFormatModule SigrokFormat{
    .Info = {"sigrok", "sigrok-cli SPI annotation lines"},
    .Recognise = Recognise,
    .Open = Open,
    .CutsFrames = true};
