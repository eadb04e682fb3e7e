// A Value Change Dump as a stream of edges; see vcd.h.
#include "capture/signal/vcd.h"

#include "capture/linereader.h"
#include "capture/signal/signalsupport.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// The blank-separated tokens of an input, with their line numbers.
class TTokenReader {
public:
    explicit TTokenReader(TByteSource& source) : FLines(source) {}

    bool Next(std::string_view& token) {
        for (;;) {
            while (!FRest.empty() && IsBlankByte(FRest.front())) {
                FRest.remove_prefix(1);
            }
            if (!FRest.empty()) {
                std::size_t size = 0;
                while (size < FRest.size() && !IsBlankByte(FRest[size])) {
                    ++size;
                }
                token = FRest.substr(0, size);
                FRest.remove_prefix(size);
                return true;
            }
            TLinePiece piece;
            if (!FLines.Next(piece)) {
                return false;
            }
            if (!piece.First || !piece.Last) {
                throw TInputError(piece.Line, "the line is too long");
            }
            FRest = piece.Text;
            FLine = piece.Line;
        }
    }
    std::uint64_t Line() const { return FLine; }
    std::uint64_t BytesConsumed() const { return FLines.BytesConsumed(); }
    // Drops the rest of the line of the last token.
    void SkipLine() { FRest = {}; }

private:
    TLineReader FLines;
    std::string_view FRest;
    std::uint64_t FLine = 0;
};

// libsigrok 0.5.2 writes lines "META samplerate: N" before the header of the VCDs it writes
// (sigrok-cli -O vcd): not VCD, and they say nothing that $timescale does not, so lines that
// start with the word META before the first $ keyword are skipped.
bool IsMetaLineStart(std::string_view token) {
    return token == "META";
}

// Seconds per unit of a timescale such as "1 ns" or "10us"; 0 when it is none.
double ParseTimescale(std::string_view text) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        ++digits;
    }
    const std::string_view number = text.substr(0, digits);
    const std::string_view unit = TrimBlanks(text.substr(digits));
    double factor = 0.0;
    if (number == "1") {
        factor = 1.0;
    } else if (number == "10") {
        factor = 10.0;
    } else if (number == "100") {
        factor = 100.0;
    }
    static const std::pair<std::string_view, double> units[] = {{"s", 1.0},    {"ms", 1e-3},  {"us", 1e-6},
                                                                {"ns", 1e-9},  {"ps", 1e-12}, {"fs", 1e-15}};
    for (const auto& [name, seconds] : units) {
        if (unit == name) {
            return factor * seconds;
        }
    }
    return 0.0;
}

class TVcdSource final : public TLogicSource {
public:
    explicit TVcdSource(TByteSource& source) : FTokens(source) { ReadHeader(); }

    const std::vector<std::string>& ChannelNames() const override { return FNames; }

    void SelectChannels(std::size_t clock, std::size_t data) override {
        NSignal::CheckChannelChoice(FNames, clock, data);
        FClockId = FIds[clock];
        FDataId = FIds[data];
        FSelected = true;
        // Up to the second time: the values at the first one are the initial levels.
        std::vector<TLogicEdge> none;
        while (!FInitialSet && Step(none)) {
        }
        if (!FInitialSet) {
            Flush(none);
        }
    }

    std::uint8_t InitialLevels() const override { return FInitial; }
    double SamplePeriod() const override { return FScale; }

    bool Read(std::vector<TLogicEdge>& edges) override {
        if (!FSelected) {
            throw TInputError(0, "the channels were not chosen before reading");
        }
        return FDeferred.Run(edges, [&] {
            while (edges.size() < BatchEdges && Step(edges)) {
            }
        });
    }

    double EndTime() const override {
        return FHaveTime ? static_cast<double>(FTime - FStart) * FScale : 0.0;
    }
    std::uint64_t BytesConsumed() const override { return FTokens.BytesConsumed(); }

private:
    static constexpr std::size_t BatchEdges = 4096;

    [[noreturn]] void Fail(const std::string& what) const {
        throw TInputError(FTokens.Line(), what);
    }

    bool NextToken(std::string_view& token) { return FTokens.Next(token); }

    // The tokens up to `$end`, joined by blanks.
    std::string ReadToEnd(const char* keyword) {
        std::string text;
        std::string_view token;
        for (;;) {
            if (!NextToken(token)) {
                Fail(std::string(keyword) + " without its $end");
            }
            if (token == "$end") {
                return text;
            }
            if (!text.empty()) {
                text += ' ';
            }
            if (text.size() < 4096) {
                text += token;
            }
        }
    }

    void ReadHeader() {
        std::string_view token;
        bool first = true; // no $ keyword read yet
        for (;;) {
            if (!NextToken(token)) {
                Fail("the dump ends before $enddefinitions");
            }
            if (first && IsMetaLineStart(token)) {
                FTokens.SkipLine();
                continue;
            }
            first = false;
            if (token.empty() || token[0] != '$') {
                Fail("\"" + std::string(token.substr(0, 40)) + "\" where the header expects a $ keyword");
            }
            if (token == "$enddefinitions") {
                ReadToEnd("$enddefinitions");
                break;
            }
            if (token == "$timescale") {
                const std::string text = ReadToEnd("$timescale");
                FScale = ParseTimescale(text);
                if (FScale == 0.0) {
                    Fail("the timescale \"" + text + "\" is not 1, 10 or 100 of s, ms, us, ns, ps or fs");
                }
            } else if (token == "$var") {
                ReadVar();
            } else {
                ReadToEnd("a $ keyword");
            }
        }
        if (FScale == 0.0) {
            Fail("the dump has no $timescale, so its times have no unit");
        }
        if (FNames.empty()) {
            Fail("the dump declares no 1-bit variable (only vectors or reals, which are no logic channel)");
        }
    }

    void ReadVar() {
        std::vector<std::string> fields;
        std::string_view token;
        for (;;) {
            if (!NextToken(token)) {
                Fail("$var without its $end");
            }
            if (token == "$end") {
                break;
            }
            if (fields.size() < 16) {
                fields.emplace_back(token);
            }
        }
        if (fields.size() < 4) {
            Fail("$var needs a type, a size, an identifier and a name");
        }
        const std::string& type = fields[0];
        std::uint64_t size = 0;
        if (!NSignal::ParseUnsigned(fields[1], size) || size == 0) {
            Fail("the size \"" + fields[1] + "\" of a $var is not a number");
        }
        const std::string& id = fields[2];
        FDeclared.emplace(id, size == 1 ? 1 : 0);
        if (size != 1 || type == "real" || type == "realtime" || type == "event" || type == "string") {
            return;
        }
        std::string name = fields[3];
        for (std::size_t i = 4; i < fields.size(); ++i) {
            name += fields[i]; // a bit select such as "[0]"
        }
        FDeclared[id] = 1;
        FNames.push_back(std::move(name));
        FIds.push_back(id);
    }

    // Applies a value (0, 1, or unknown) of the variable `id`.
    void SetValue(char value, std::string_view id) {
        std::uint8_t bit = 0;
        if (id == FClockId) {
            bit |= LogicClockBit;
        }
        if (id == FDataId) {
            bit |= LogicDataBit;
        }
        if (bit == 0) {
            if (FDeclared.find(std::string(id)) == FDeclared.end()) {
                Fail("the identifier \"" + std::string(id.substr(0, 40)) + "\" was not declared by a $var");
            }
            return;
        }
        if (value == '0' || value == '1') {
            FUnknown = static_cast<std::uint8_t>(FUnknown & ~bit);
            FLevels = static_cast<std::uint8_t>(value == '1' ? FLevels | bit : FLevels & ~bit);
        } else {
            FUnknown |= bit;
        }
    }

    std::uint8_t Current() const {
        return static_cast<std::uint8_t>(FLevels | (FUnknown != 0 ? LogicGapBit : 0));
    }

    // Ends the changes at the current time: an edge when they changed the levels.
    void Flush(std::vector<TLogicEdge>& edges) {
        const std::uint8_t levels = Current();
        if (!FInitialSet) {
            FInitial = levels;
            FEmitted = levels;
            FInitialSet = true;
            return;
        }
        if (levels != FEmitted) {
            edges.push_back({static_cast<double>(FTime - FStart) * FScale, levels});
            FEmitted = levels;
        }
    }

    // Handles the next token; false at the end of the dump (after the last flush).
    bool Step(std::vector<TLogicEdge>& edges) {
        if (FDone) {
            return false;
        }
        std::string_view token;
        if (!NextToken(token)) {
            FDone = true;
            Flush(edges);
            return false;
        }
        const char first = token[0];
        if (first == '#') {
            std::uint64_t time = 0;
            if (!NSignal::ParseUnsigned(token.substr(1), time)) {
                Fail("\"" + std::string(token.substr(0, 40)) + "\" is not a time");
            }
            if (!FHaveTime) {
                FHaveTime = true;
                FStart = time;
            } else if (time != FTime) {
                // The changes at the last time are complete, whatever follows.
                Flush(edges);
                if (time < FTime) {
                    Fail("the time goes backwards, from #" + std::to_string(FTime) + " to #" + std::to_string(time));
                }
            }
            FTime = time;
            return true;
        }
        switch (first) {
        case '0':
        case '1':
        case 'x':
        case 'X':
        case 'z':
        case 'Z':
            if (token.size() < 2) {
                Fail("a value change without an identifier");
            }
            SetValue(first, token.substr(1));
            return true;
        case 'b':
        case 'B':
        case 'r':
        case 'R': {
            const std::string value(token.substr(1));
            std::string_view id;
            if (!NextToken(id)) {
                Fail("a vector value change without an identifier");
            }
            if (value.empty()) {
                Fail("a vector value change without a value");
            }
            // A 1-bit variable written as a vector: its last bit.
            const char bit = (first == 'b' || first == 'B') ? value.back() : 'x';
            SetValue(bit, id);
            return true;
        }
        case '$':
            if (token == "$comment") {
                ReadToEnd("$comment");
            }
            // $dumpvars, $dumpall, $dumpon, $dumpoff and their $end only frame value changes.
            return true;
        default:
            Fail("\"" + std::string(token.substr(0, 40)) + "\" is neither a time nor a value change");
        }
    }

    TTokenReader FTokens;
    NSignal::TDeferredError FDeferred;
    std::vector<std::string> FNames;
    std::vector<std::string> FIds;
    // Every declared identifier; 1 for the 1-bit ones.
    std::unordered_map<std::string, int> FDeclared;
    double FScale = 0.0;
    std::string FClockId;
    std::string FDataId;
    bool FSelected = false;
    bool FDone = false;
    bool FHaveTime = false;
    std::uint64_t FStart = 0;
    std::uint64_t FTime = 0;
    std::uint8_t FLevels = 0;
    std::uint8_t FUnknown = LogicClockBit | LogicDataBit;
    std::uint8_t FInitial = 0;
    std::uint8_t FEmitted = 0;
    bool FInitialSet = false;
};

} // namespace

std::unique_ptr<TLogicSource> OpenVcdSource(TByteSource& source) {
    return std::make_unique<TVcdSource>(source);
}

bool LooksLikeVcd(std::string_view firstBytes) {
    if (firstBytes.size() >= 3 && firstBytes.substr(0, 3) == "\xEF\xBB\xBF") {
        firstBytes.remove_prefix(3);
    }
    std::string_view keyword;
    std::size_t i = 0;
    for (;;) {
        while (i < firstBytes.size() && (IsBlankByte(firstBytes[i]) || firstBytes[i] == '\n')) {
            ++i;
        }
        std::size_t end = i;
        while (end < firstBytes.size() && !IsBlankByte(firstBytes[end]) &&
               firstBytes[end] != '\n') {
            ++end;
        }
        keyword = firstBytes.substr(i, end - i);
        if (!IsMetaLineStart(keyword)) {
            break;
        }
        i = firstBytes.find('\n', end);
        if (i == std::string_view::npos) {
            return false;
        }
    }
    return keyword == "$date" || keyword == "$version" || keyword == "$comment" || keyword == "$timescale" ||
           keyword == "$scope" || keyword == "$var";
}
