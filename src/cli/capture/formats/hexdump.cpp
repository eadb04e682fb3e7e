// The hexdump reader: raw bytes as "hexdump -C" and xxd print them (see hexdump.h).
#include "capture/formats/hexdump.h"

#include "capture/inputformat.h"
#include "capture/readerbase.h"

#include <cstdint>
#include <string>

namespace {

// The most digits of an offset: 64 bits.
constexpr std::size_t MaxOffsetDigits = 16;

// One line of a dump.
struct TDumpLine {
    bool Star = false;            // a "*" line: repeats of the line before
    std::uint64_t Offset = 0;
    std::size_t OffsetDigits = 0;
    std::size_t Bytes = 0;        // bytes appended to the digits
};

// Reads a dump line (trimmed), appending its bytes to `digits` as hexadecimal digits; false,
// with `digits` as it was, when the line is no dump line.
bool ParseDumpLine(std::string_view line, TDumpLine& out, std::string& digits) {
    out = {};
    if (line == "*") {
        out.Star = true;
        return true;
    }
    std::size_t at = 0;
    while (at < line.size() && IsHexDigit(line[at])) {
        out.Offset = (out.Offset << 4) | HexDigitValue(line[at]);
        ++at;
    }
    out.OffsetDigits = at;
    if (at == 0 || at > MaxOffsetDigits) {
        return false;
    }
    const std::size_t start = digits.size();
    auto fail = [&digits, start] {
        digits.resize(start);
        return false;
    };
    if (at == line.size()) {
        return true; // an offset alone: the end of the dump
    }
    if (line[at] == ':') {
        // xxd: groups of an even number of digits, one blank apart; two blanks, or a word
        // that is no group, begin the ASCII column.
        ++at;
        while (at < line.size() && IsBlankByte(line[at])) {
            ++at;
        }
        while (at < line.size()) {
            std::size_t end = at;
            while (end < line.size() && !IsBlankByte(line[end])) {
                ++end;
            }
            const std::string_view word = line.substr(at, end - at);
            bool group = word.size() % 2 == 0;
            for (const char c : word) {
                group = group && IsHexDigit(c);
            }
            if (!group) {
                break;
            }
            digits.append(word);
            out.Bytes += word.size() / 2;
            if (end + 1 >= line.size() || IsBlankByte(line[end + 1])) {
                break;
            }
            at = end + 1;
        }
        return out.Bytes > 0 ? true : fail();
    }
    if (!IsBlankByte(line[at])) {
        return false;
    }
    // hexdump -C: bytes of two digits, any blanks apart, up to the "|" of the ASCII column.
    while (at < line.size()) {
        while (at < line.size() && IsBlankByte(line[at])) {
            ++at;
        }
        if (at == line.size() || line[at] == '|') {
            break;
        }
        const bool byte = at + 1 < line.size() && IsHexDigit(line[at]) && IsHexDigit(line[at + 1]) &&
                          (at + 2 == line.size() || IsBlankByte(line[at + 2]) || line[at + 2] == '|');
        if (!byte) {
            return fail();
        }
        digits.append(line.substr(at, 2));
        ++out.Bytes;
        at += 2;
    }
    return out.Bytes > 0 ? true : fail();
}

std::string HexOffset(std::uint64_t offset) {
    std::string text;
    do {
        text.insert(text.begin(), LowerHexDigits[offset & 15]);
        offset >>= 4;
    } while (offset != 0);
    while (text.size() < 8) {
        text.insert(text.begin(), '0');
    }
    return "0x" + text;
}

class THexdumpReader final : public TQueuedReader {
public:
    THexdumpReader(std::unique_ptr<TByteSource> source, std::uint32_t frameBytes)
        : TQueuedReader(std::move(source), frameBytes), FFrameBytes(frameBytes) {}

    // No value of its own until the reader is registered: the nearest format, raw bytes cut
    // by --frame-bytes, which a dump shows.
    std::string_view Format() const override { return "hexdump"; }

protected:
    bool ReadRow() override {
        if (FRepeatsLeft > 0) {
            ExpandSome();
            return true;
        }
        if (FHeld) {
            // The line after the repeats: now the line a next "*" repeats.
            FHeld = false;
            if (!FHeldDigits.empty()) {
                FRepeat = FHeldDigits;
            }
            FeedBytes(FHeldDigits, FHeldLine);
            return true;
        }
        TTextLine piece;
        if (!NextLine(piece)) {
            return false;
        }
        if (piece.TooLong) {
            Unreadable(piece.Text, piece.Line); // no dump line is this long
            return true;
        }
        const std::string_view line = TrimBlanks(piece.Text);
        if (line.empty()) {
            return true;
        }
        TDumpLine dump;
        FDigits.clear();
        if (!ParseDumpLine(line, dump, FDigits)) {
            Unreadable(piece.Text, piece.Line);
            return true;
        }
        if (dump.Star) {
            if (!FStarted || FRepeat.empty() || FStarLine != 0) {
                Unreadable(piece.Text, piece.Line); // nothing to repeat
            } else {
                FStarLine = piece.Line;
            }
            return true;
        }
        if (!FStarted) {
            FStarted = true;
            FNext = dump.Offset;
        }
        if (FStarLine != 0) {
            // The repeats of the line before the "*" fill the gap up to this line.
            const std::uint64_t repeatBytes = FRepeat.size() / 2;
            if (dump.Offset <= FNext || (dump.Offset - FNext) % repeatBytes != 0) {
                throw TInputError(piece.Line, "the \"*\" line before this one stands for repeats of " +
                                                  std::to_string(repeatBytes) + " bytes from offset " +
                                                  HexOffset(FNext) + ", which do not end at offset " +
                                                  HexOffset(dump.Offset));
            }
            FRepeatsLeft = (dump.Offset - FNext) / repeatBytes;
            FNext = dump.Offset;
            FHeld = true;
            FHeldDigits = FDigits;
            FHeldLine = piece.Line;
        } else if (dump.Offset != FNext) {
            throw TInputError(piece.Line, "the dump goes on at offset " + HexOffset(dump.Offset) + " where " +
                                              HexOffset(FNext) +
                                              " was due: lines are missing or out of order");
        }
        FNext += dump.Bytes;
        if (!FHeld) {
            if (dump.Bytes > 0) {
                FRepeat = FDigits;
            }
            FeedBytes(FDigits, piece.Line);
        }
        return true;
    }

    void Finish() override {
        if (FStarLine != 0) {
            const std::uint64_t line = FStarLine;
            FStarLine = 0;
            Unreadable("*", line); // the run it stands for has no end
        }
        if (!FRealignDigits.empty()) {
            FAssembler.AddUnreadable(FRealignDigits, FRealignLine);
            FRealignDigits.clear();
        }
    }

private:
    // Feeds a bounded number of the repeats of a "*" line, so that a long run of repeats
    // (gigabytes of zeros) never sits in memory at once.
    void ExpandSome() {
        constexpr std::size_t ChunkDigits = 64 * 1024;
        const std::uint64_t perChunk = std::max<std::uint64_t>(1, ChunkDigits / FRepeat.size());
        std::uint64_t count = std::min(FRepeatsLeft, perChunk);
        FRepeatsLeft -= count;
        FChunk.clear();
        while (count-- > 0) {
            FChunk += FRepeat;
        }
        FeedBytes(FChunk, FStarLine);
        if (FRepeatsLeft == 0) {
            FStarLine = 0;
        }
    }

    // Hands bytes to the assembler. After an unreadable line inside a frame, the bytes up to
    // the frame's end are a ckInvalid frame of their own: the frames after keep their places.
    void FeedBytes(std::string_view digits, std::uint64_t line) {
        while (FRealignLeft > 0 && !digits.empty()) {
            const std::size_t take = static_cast<std::size_t>(
                std::min<std::uint64_t>(digits.size(), 2 * FRealignLeft));
            if (FRealignDigits.empty()) {
                FRealignLine = line;
            }
            FRealignDigits.append(digits.substr(0, take));
            digits.remove_prefix(take);
            FRealignLeft -= take / 2;
            FPosition += take / 2;
            if (FRealignLeft == 0) {
                FAssembler.AddUnreadable(FRealignDigits, FRealignLine);
                FRealignDigits.clear();
            }
        }
        if (!digits.empty()) {
            FAssembler.AddDigits(digits, line);
            FPosition += digits.size() / 2;
        }
    }

    // A line that is no dump line: it joins the frame being built, which becomes invalid.
    void Unreadable(std::string_view text, std::uint64_t line) {
        if (!FRealignDigits.empty()) {
            // Inside the rest of a broken frame: that rest so far and the line, one frame.
            std::string joined = FRealignDigits + " " + std::string(text);
            FAssembler.AddUnreadable(joined, FRealignLine);
            FRealignDigits.clear();
            return;
        }
        FAssembler.AddUnreadable(text, line);
        const std::uint64_t inFrame = FPosition % FFrameBytes;
        if (FRealignLeft == 0 && inFrame != 0) {
            FRealignLeft = FFrameBytes - inFrame;
        }
    }

    std::uint32_t FFrameBytes;
    bool FStarted = false;         // a line with an offset was read
    std::uint64_t FNext = 0;       // the offset the next line must have
    std::uint64_t FPosition = 0;   // bytes handed out since the first offset
    std::string FRepeat;           // the digits of the last line with bytes
    std::uint64_t FStarLine = 0;   // a "*" line waiting for its end, or being expanded
    std::uint64_t FRepeatsLeft = 0;
    std::string FChunk;
    bool FHeld = false;            // the line after a "*", fed after the repeats
    std::string FHeldDigits;
    std::uint64_t FHeldLine = 0;
    std::uint64_t FRealignLeft = 0; // bytes of a broken frame still to come
    std::string FRealignDigits;
    std::uint64_t FRealignLine = 0;
    std::string FDigits;
};

} // namespace

std::unique_ptr<TCaptureReader> MakeHexdumpReader(std::unique_ptr<TByteSource> source,
                                                  const TReaderOptions& options) {
    if (options.FrameBytes == 0) {
        throw TInputError(0, "a hexdump holds raw bytes without frame boundaries: give --frame-bytes N, "
                             "the number of bytes per frame");
    }
    return std::make_unique<THexdumpReader>(std::move(source), options.FrameBytes);
}

bool LooksLikeHexdump(const std::vector<std::string_view>& firstLines) {
    constexpr std::size_t MinOffsetDigits = 6;
    bool started = false;
    bool star = false;
    std::uint64_t next = 0;
    std::string digits;
    for (const std::string_view text : firstLines) {
        TDumpLine line;
        digits.clear();
        if (!ParseDumpLine(TrimBlanks(text), line, digits)) {
            return false;
        }
        if (line.Star) {
            if (!started || star) {
                return false;
            }
            star = true;
            continue;
        }
        if (line.OffsetDigits < MinOffsetDigits || (!started && line.Bytes == 0)) {
            return false;
        }
        if (started && (star ? line.Offset <= next : line.Offset != next)) {
            return false;
        }
        started = true;
        star = false;
        next = line.Offset + line.Bytes;
    }
    return started;
}

namespace {

bool Recognise(const TDetectSample& sample, const TReaderOptions&) {
    std::vector<std::string_view> lines;
    for (const TSampleLine& line : sample.Lines) {
        lines.push_back(line.Text);
    }
    return !lines.empty() && LooksLikeHexdump(lines);
}

std::unique_ptr<TCaptureReader> Open(std::unique_ptr<TByteSource> source, const TReaderOptions& options, bool) {
    return MakeHexdumpReader(std::move(source), options);
}

} // namespace

extern const TInputFormatModule HexdumpFormat{
    .Info = {"hexdump", "bytes as hexdump -C or xxd print them, cut by --frame-bytes"},
    .Recognise = Recognise,
    .Open = Open,
    .CutsFrames = true};
