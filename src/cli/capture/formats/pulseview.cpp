// The pulseview reader: PulseView's annotation export of an SPI decoder (see pulseview.h).
#include "capture/formats/pulseview.h"

#include "capture/inputformat.h"
#include "capture/readerbase.h"

#include <cstdint>
#include <string>

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The fields of an annotation line; views into the line.
struct TAnnotationLine {
    bool HasRange = false;
    std::string_view Decoder;
    std::string_view Row;
    std::string_view Text;
    bool DecoderQuoted = false;
    bool TextQuoted = false;
};

// Reads a field that ends with ": " (decoder and row): in double quotes, or up to the first
// ": ". Moves `at` past the ": ".
bool ReadNameField(std::string_view line, std::size_t& at, std::string_view& field, bool& quoted) {
    quoted = at < line.size() && line[at] == '"';
    std::size_t end = 0;
    if (quoted) {
        const std::size_t close = line.find('"', at + 1);
        if (close == std::string_view::npos) {
            return false;
        }
        field = line.substr(at + 1, close - at - 1);
        end = close + 1;
        if (line.substr(end, 2) != ": ") {
            return false;
        }
    } else {
        end = line.find(": ", at);
        if (end == std::string_view::npos) {
            return false;
        }
        field = line.substr(at, end - at);
    }
    at = end + 2;
    return !TrimBlanks(field).empty();
}

// Reads "[START-END ]DECODER: ROW: TEXT" (trimmed); false when the line is not so shaped.
bool ParseAnnotationLine(std::string_view line, TAnnotationLine& out) {
    out = {};
    std::size_t at = 0;
    // The sample range: decimal START-END and a blank.
    {
        std::size_t i = 0;
        while (i < line.size() && IsDecimalDigit(line[i])) {
            ++i;
        }
        if (i > 0 && i < line.size() && line[i] == '-') {
            std::size_t j = i + 1;
            while (j < line.size() && IsDecimalDigit(line[j])) {
                ++j;
            }
            if (j > i + 1 && j < line.size() && IsBlankByte(line[j])) {
                out.HasRange = true;
                at = j;
                while (at < line.size() && IsBlankByte(line[at])) {
                    ++at;
                }
            }
        }
    }
    bool rowQuoted = false;
    if (!ReadNameField(line, at, out.Decoder, out.DecoderQuoted) ||
        !ReadNameField(line, at, out.Row, rowQuoted)) {
        return false;
    }
    std::string_view text = TrimBlanks(line.substr(at));
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
        out.TextQuoted = true;
    }
    out.Row = TrimBlanks(out.Row);
    out.Text = text;
    return true;
}

enum class TRowKind { rkOther, rkData, rkTransfer };

// The kind of an annotation row for the chosen data line `column` (lowercase): "MISO data" or
// "miso-data" is data, "MISO transfer(s)" or "miso-transfer" a transfer, anything else
// another row. Case is ignored.
TRowKind ClassifyRow(std::string_view row, std::string_view column) {
    if (row.size() <= column.size() + 1) {
        return TRowKind::rkOther;
    }
    for (std::size_t i = 0; i < column.size(); ++i) {
        if (LowerAscii(row[i]) != column[i]) {
            return TRowKind::rkOther;
        }
    }
    const char separator = row[column.size()];
    if (separator != ' ' && separator != '-' && separator != '_') {
        return TRowKind::rkOther;
    }
    std::string rest;
    for (const char c : row.substr(column.size() + 1)) {
        rest.push_back(LowerAscii(c));
    }
    if (rest == "data") {
        return TRowKind::rkData;
    }
    if (rest == "transfer" || rest == "transfers") {
        return TRowKind::rkTransfer;
    }
    return TRowKind::rkOther;
}

class TPulseViewReader final : public TQueuedReader {
public:
    TPulseViewReader(std::unique_ptr<TByteSource> source, const TReaderOptions& options)
        : TQueuedReader(std::move(source), options.FrameBytes), FFrameBytes(options.FrameBytes) {
        for (const char c : WantedColumn(options)) {
            FColumn.push_back(LowerAscii(c));
        }
    }

    // No value of its own until the reader is registered: the nearest format, sigrok's
    // annotations, which PulseView's are.
    std::string_view Format() const override { return "pulseview"; }

protected:
    bool ReadRow() override {
        TLinePiece piece;
        if (!FLines.Next(piece)) {
            return false;
        }
        if (!piece.First || !piece.Last || piece.Text.size() > MaxLineBytes) {
            ReadLongPiece(piece);
            return true;
        }
        const std::string_view line = TrimBlanks(piece.Text);
        if (line.empty()) {
            return true;
        }
        TAnnotationLine annotation;
        if (!ParseAnnotationLine(line, annotation)) {
            FAssembler.AddUnreadable(piece.Text, piece.Line);
            return true;
        }
        ++FAnnotations;
        const TRowKind kind = ClassifyRow(annotation.Row, FColumn);
        if (kind == TRowKind::rkOther) {
            NoteOtherRow(annotation.Row);
            return true;
        }
        if (!Takes(kind, piece.Line)) {
            return true;
        }
        FDigits.clear();
        if (!AppendHexWords(annotation.Text, FDigits)) {
            FAssembler.AddUnreadable(piece.Text, piece.Line);
            return true;
        }
        FAssembler.AddDigits(FDigits, piece.Line);
        return true;
    }

    void Finish() override {
        if (!FSawData && !FSawTransfer && FAnnotations > 0) {
            throw TInputError(0, "the PulseView export has no annotations of the " + Upper(FColumn) +
                                     " data line (rows \"" + Upper(FColumn) + " data\" or \"" +
                                     Upper(FColumn) + " transfers\"); its rows are " + FOtherRows +
                                     "; choose the data line with --column");
        }
        if (FFrameBytes == 0 && !FSawTransfer && FSawData) {
            throw TInputError(FFirstDataLine,
                              "the PulseView export has one byte per line (\"" + Upper(FColumn) +
                                  " data\"): give --frame-bytes N, the number of bytes per frame, or "
                                  "export the \"" + Upper(FColumn) + " transfers\" row");
        }
    }

private:
    // Whether a line of the chosen data line is read: without a frame size only transfers
    // are frames; with one, the kind met first.
    bool Takes(TRowKind kind, std::uint64_t line) {
        if (kind == TRowKind::rkData && !FSawData) {
            FFirstDataLine = line;
        }
        (kind == TRowKind::rkData ? FSawData : FSawTransfer) = true;
        if (FFrameBytes == 0) {
            return kind == TRowKind::rkTransfer;
        }
        if (FKind == TRowKind::rkOther) {
            FKind = kind;
        }
        return kind == FKind;
    }

    // A line longer than MaxLineBytes: unreadable when its start shows the chosen data line,
    // ignored when it shows another row.
    void ReadLongPiece(const TLinePiece& piece) {
        if (piece.First) {
            FLongLine = piece.Line;
            FLongStart.assign(LongTextStart(piece.Text));
            TAnnotationLine annotation;
            FLongTaken = true;
            const std::string_view start = TrimBlanks(piece.Text.substr(0, MaxLineBytes));
            if (ParseAnnotationLine(start, annotation)) {
                ++FAnnotations;
                const TRowKind kind = ClassifyRow(annotation.Row, FColumn);
                if (kind == TRowKind::rkOther) {
                    NoteOtherRow(annotation.Row);
                    FLongTaken = false;
                } else {
                    FLongTaken = Takes(kind, piece.Line);
                }
            }
        }
        if (piece.Last && FLongTaken) {
            FAssembler.AddLongUnreadable(FLongStart, FLongLine);
        }
    }

    // Keeps the names of the first few other rows, for the message of an export without the
    // chosen data line.
    void NoteOtherRow(std::string_view row) {
        constexpr std::size_t MaxNoted = 8;
        if (FNoted >= MaxNoted) {
            return;
        }
        std::string quoted(1, '"');
        quoted += LongTextStart(row);
        quoted += '"';
        if (FOtherRows.find(quoted) != std::string::npos) {
            return;
        }
        if (FNoted > 0) {
            FOtherRows += ", ";
        }
        FOtherRows += quoted;
        ++FNoted;
    }

    static std::string Upper(std::string_view text) {
        std::string upper(text);
        for (char& c : upper) {
            c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        }
        return upper;
    }

    std::uint32_t FFrameBytes;
    std::string FColumn; // lowercase
    TRowKind FKind = TRowKind::rkOther; // with a frame size: the kind read
    bool FSawData = false;
    bool FSawTransfer = false;
    std::uint64_t FFirstDataLine = 0;
    std::uint64_t FAnnotations = 0;
    std::string FOtherRows;
    std::size_t FNoted = 0;
    std::string FDigits;
    std::uint64_t FLongLine = 0;
    std::string FLongStart;
    bool FLongTaken = false;
};

} // namespace

std::unique_ptr<TCaptureReader> MakePulseViewReader(std::unique_ptr<TByteSource> source,
                                                    const TReaderOptions& options) {
    return std::make_unique<TPulseViewReader>(std::move(source), options);
}

bool LooksLikePulseView(const std::vector<std::string_view>& firstLines) {
    if (firstLines.empty()) {
        return false;
    }
    TAnnotationLine annotation;
    if (!ParseAnnotationLine(TrimBlanks(firstLines.front()), annotation) || !annotation.HasRange) {
        return false;
    }
    // sigrok-cli quotes the text alone, after an unquoted decoder instance; PulseView quotes
    // all of its fields or none.
    return annotation.DecoderQuoted || !annotation.TextQuoted;
}

namespace {

bool Recognise(const TDetectSample& sample, const TReaderOptions&) {
    std::vector<std::string_view> lines;
    for (const TSampleLine& line : sample.Lines) {
        lines.push_back(line.Text);
    }
    return LooksLikePulseView(lines);
}

std::unique_ptr<TCaptureReader> Open(std::unique_ptr<TByteSource> source, const TReaderOptions& options, bool) {
    return MakePulseViewReader(std::move(source), options);
}

} // namespace

extern const TInputFormatModule PulseViewFormat{
    .Info = {"pulseview", "PulseView's annotation export of an SPI decoder"},
    .Recognise = Recognise,
    .Open = Open,
    .CutsFrames = true,
    .ReadsColumn = true};
