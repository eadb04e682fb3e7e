// The digital CSV export as a stream of edges; see saleaedigital.h.
#include "capture/signal/saleaedigital.h"

#include "capture/linereader.h"
#include "capture/signal/signalsupport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr std::string_view TimeHeader = "Time [s]";

// Splits a row at its commas; the fields keep their blanks.
void SplitFields(std::string_view line, std::vector<std::string_view>& fields) {
    fields.clear();
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        if (comma == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return;
        }
        fields.push_back(line.substr(start, comma - start));
        start = comma + 1;
    }
}

// A header field without blanks and one pair of quotes around it.
std::string_view CleanName(std::string_view field) {
    field = TrimBlanks(field);
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"') {
        field = TrimBlanks(field.substr(1, field.size() - 2));
    }
    return field;
}

// 0, 1, or 2 for X (no data); -1 for anything else.
int ChannelValue(std::string_view field) {
    field = TrimBlanks(field);
    if (field.size() != 1) {
        return -1;
    }
    switch (field[0]) {
    case '0':
        return 0;
    case '1':
        return 1;
    case 'X':
    case 'x':
        return 2;
    default:
        return -1;
    }
}

// The header's channel names; false when the line is no digital export header.
bool ParseHeader(std::string_view line, std::vector<std::string>& names) {
    if (line.size() >= 3 && line.substr(0, 3) == "\xEF\xBB\xBF") {
        line.remove_prefix(3);
    }
    std::vector<std::string_view> fields;
    SplitFields(line, fields);
    if (fields.size() < 2 || CleanName(fields[0]) != TimeHeader) {
        return false;
    }
    names.clear();
    for (std::size_t i = 1; i < fields.size(); ++i) {
        names.emplace_back(CleanName(fields[i]));
    }
    return true;
}

class TSaleaeDigitalSource final : public TLogicSource {
public:
    explicit TSaleaeDigitalSource(TByteSource& source) : FLines(source) {
        TLinePiece piece;
        while (FLines.Next(piece)) {
            if (!piece.First) {
                continue;
            }
            if (!piece.Last) {
                throw TInputError(piece.Line, "the header of the digital export is too long");
            }
            if (TrimBlanks(piece.Text).empty()) {
                continue;
            }
            if (!ParseHeader(piece.Text, FNames)) {
                throw TInputError(piece.Line, "not a digital export: the header must begin with \"Time [s],\" "
                                              "followed by the channels' names");
            }
            return;
        }
        throw TInputError(0, "not a digital export: the input holds no header");
    }

    const std::vector<std::string>& ChannelNames() const override { return FNames; }

    void SelectChannels(std::size_t clock, std::size_t data) override {
        NSignal::CheckChannelChoice(FNames, clock, data);
        FClock = clock + 1; // fields: the time first
        FData = data + 1;
        // The first row gives the levels at the start.
        if (!NextRow()) {
            throw TInputError(FLines.LineNumber(), "the digital export holds no row after its header");
        }
        FStart = FRowTime;
        FLevels = FRowLevels;
        FInitial = FRowLevels;
        FLastTime = 0.0;
        FSelected = true;
    }

    std::uint8_t InitialLevels() const override { return FInitial; }
    double SamplePeriod() const override { return 0.0; }

    bool Read(std::vector<TLogicEdge>& edges) override {
        if (!FSelected) {
            throw TInputError(0, "the channels were not chosen before reading");
        }
        return FDeferred.Run(edges, [&] { ReadEdges(edges); });
    }

    double EndTime() const override { return FEnd; }
    std::uint64_t BytesConsumed() const override { return FLines.BytesConsumed(); }

private:
    static constexpr std::size_t BatchEdges = 4096;

    void ReadEdges(std::vector<TLogicEdge>& edges) {
        while (!FDone && edges.size() < BatchEdges) {
            if (!NextRow()) {
                FDone = true;
                FEnd = FLastTime;
                break;
            }
            const double time = FRowTime - FStart;
            FLastTime = time;
            if (FRowAllX) {
                // The end marker, unless more rows follow it.
                FPendingEnd = true;
                FPendingEndLevels = FRowLevels;
                continue;
            }
            FlushPendingEnd(edges);
            if (FRowLevels != FLevels) {
                FLevels = FRowLevels;
                edges.push_back({time, FLevels});
            }
        }
    }

    // An all-X row followed by more rows was a gap in every channel, not the end.
    void FlushPendingEnd(std::vector<TLogicEdge>& edges) {
        if (FPendingEnd) {
            FPendingEnd = false;
            if (FPendingEndLevels != FLevels) {
                FLevels = FPendingEndLevels;
                edges.push_back({FPendingEndTime, FLevels});
            }
        }
    }

    // Reads the next row into FRowTime, FRowLevels and FRowAllX; false at the end.
    bool NextRow() {
        TLinePiece piece;
        while (FLines.Next(piece)) {
            if (!piece.First) {
                continue; // the rest of an overlong line, already refused
            }
            if (!piece.Last) {
                throw TInputError(piece.Line, "the row is too long");
            }
            if (TrimBlanks(piece.Text).empty()) {
                continue;
            }
            ParseRow(piece.Text, piece.Line);
            return true;
        }
        return false;
    }

    void ParseRow(std::string_view text, std::uint64_t line) {
        SplitFields(text, FFields);
        if (FFields.size() != FNames.size() + 1) {
            throw TInputError(line, "the row has " + std::to_string(FFields.size()) +
                                        " fields where the header has " + std::to_string(FNames.size() + 1));
        }
        double time = 0.0;
        if (!NSignal::ParseDouble(TrimBlanks(FFields[0]), time) || !std::isfinite(time)) {
            throw TInputError(line, "the time \"" + std::string(TrimBlanks(FFields[0])) +
                                        "\" is not a number of seconds");
        }
        if (FHaveRow && time < FRowTime) {
            throw TInputError(line, "the time goes backwards");
        }
        bool allX = true;
        for (std::size_t i = 1; i < FFields.size(); ++i) {
            const int value = ChannelValue(FFields[i]);
            if (value < 0) {
                throw TInputError(line, "the value \"" + std::string(TrimBlanks(FFields[i])) + "\" of " +
                                            FNames[i - 1] + " is not 0, 1 or X");
            }
            allX = allX && value == 2;
        }
        const int clock = ChannelValue(FFields[FClock]);
        const int data = ChannelValue(FFields[FData]);
        // Unknown values keep the last known levels, with the gap bit.
        std::uint8_t levels = FRowLevels & (LogicClockBit | LogicDataBit);
        if (clock != 2) {
            levels = static_cast<std::uint8_t>((levels & ~LogicClockBit) | (clock == 1 ? LogicClockBit : 0));
        }
        if (data != 2) {
            levels = static_cast<std::uint8_t>((levels & ~LogicDataBit) | (data == 1 ? LogicDataBit : 0));
        }
        if (clock == 2 || data == 2) {
            levels |= LogicGapBit;
        }
        FRowTime = time;
        FRowLevels = levels;
        FRowAllX = allX;
        FHaveRow = true;
        if (allX) {
            FPendingEndTime = time - FStart;
        }
    }

    TLineReader FLines;
    NSignal::TDeferredError FDeferred;
    std::vector<std::string> FNames;
    std::vector<std::string_view> FFields;
    std::size_t FClock = 0;
    std::size_t FData = 0;
    bool FSelected = false;
    bool FDone = false;
    bool FHaveRow = false;
    double FStart = 0.0;
    double FRowTime = 0.0;
    std::uint8_t FRowLevels = 0;
    bool FRowAllX = false;
    std::uint8_t FLevels = 0;
    std::uint8_t FInitial = 0;
    double FLastTime = 0.0;
    double FEnd = 0.0;
    bool FPendingEnd = false;
    double FPendingEndTime = 0.0;
    std::uint8_t FPendingEndLevels = 0;
};

} // namespace

std::unique_ptr<TLogicSource> OpenSaleaeDigitalSource(TByteSource& source) {
    return std::make_unique<TSaleaeDigitalSource>(source);
}

bool LooksLikeSaleaeDigital(std::string_view firstBytes) {
    firstBytes = firstBytes.substr(0, 64 * 1024);
    std::size_t start = 0;
    std::vector<std::string> names;
    bool haveHeader = false;
    std::vector<std::string_view> fields;
    while (start < firstBytes.size()) {
        const std::size_t end = firstBytes.find('\n', start);
        if (end == std::string_view::npos && start != 0 && haveHeader) {
            break; // a data row cut by the sample: judge by the header
        }
        std::string_view line = firstBytes.substr(start, end == std::string_view::npos ? end : end - start);
        start = end == std::string_view::npos ? firstBytes.size() : end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (TrimBlanks(line).empty() || (haveHeader == false && line == "\xEF\xBB\xBF")) {
            continue;
        }
        if (!haveHeader) {
            if (!ParseHeader(line, names)) {
                return false;
            }
            // The SPI analyzer's export has the same time column; its other columns are not
            // channels.
            for (const std::string& name : names) {
                if (name == "Packet ID") {
                    return false;
                }
            }
            haveHeader = true;
            continue;
        }
        SplitFields(line, fields);
        if (fields.size() != names.size() + 1) {
            return false;
        }
        double time = 0.0;
        if (!NSignal::ParseDouble(TrimBlanks(fields[0]), time)) {
            return false;
        }
        for (std::size_t i = 1; i < fields.size(); ++i) {
            if (ChannelValue(fields[i]) < 0) {
                return false;
            }
        }
        return true;
    }
    return haveHeader;
}
