// The binary export of digital channels as a stream of edges; see saleaebinary.h.
#include "capture/signal/saleaebinary.h"

#include "capture/signal/signalsupport.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <system_error>

namespace {

constexpr std::string_view Identifier = "<SALEAE>";
constexpr double Never = std::numeric_limits<double>::infinity();

template <typename T>
T LoadLittle(const char* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    if constexpr (std::endian::native == std::endian::big) {
        if constexpr (sizeof(T) == 8) {
            std::uint64_t bits;
            std::memcpy(&bits, &value, 8);
            bits = __builtin_bswap64(bits);
            std::memcpy(&value, &bits, 8);
        } else {
            std::uint32_t bits;
            std::memcpy(&bits, &value, 4);
            bits = __builtin_bswap32(bits);
            std::memcpy(&value, &bits, 4);
        }
    }
    return value;
}

// One channel's file read as a sequence of events: the level set at a chunk's begin, a toggle
// at each transition, the start of a gap at a chunk's end when the next chunk begins later.
class TChannelFile {
public:
    enum TEventKind : std::uint8_t { ekToggle, ekLevel, ekGap, ekEnd };

    TChannelFile(std::unique_ptr<TByteSource> source, std::string name)
        : FSource(std::move(source)), FName(std::move(name)), FBuffer(new char[BufferBytes]) {
        FPos = FEnd = FBuffer.get();
        char header[16];
        ReadExact(header, sizeof header, "the header");
        if (std::string_view(header, 8) != Identifier) {
            Fail(0, "not a binary export: it does not begin with \"<SALEAE>\"");
        }
        FVersion = LoadLittle<std::int32_t>(header + 8);
        const std::int32_t type = LoadLittle<std::int32_t>(header + 12);
        if (FVersion != 0 && FVersion != 1) {
            Fail(8, "binary export version " + std::to_string(FVersion) + " is not known (0 and 1 are)");
        }
        if (type != 0) {
            Fail(12, type == 1 ? "an analog export, not a digital one"
                               : "export type " + std::to_string(type) + " is not digital (0)");
        }
        if (FVersion == 0) {
            FChunksLeft = 1;
        } else {
            char count[8];
            ReadExact(count, sizeof count, "the chunk count");
            FChunksLeft = LoadLittle<std::uint64_t>(count);
        }
        FPrevEnd = -Never;
        AdvanceChunk();
        if (FNextKind == ekEnd) {
            Fail(16, "the export holds no chunk of data");
        }
        FBegin = FNextTime;
    }

    // The time of the first chunk's begin.
    double Begin() const { return FBegin; }
    double End() const { return FPrevEnd; }
    std::uint64_t BytesConsumed() const { return FOffset + static_cast<std::uint64_t>(FPos - FBuffer.get()); }

    double FNextTime = Never;
    TEventKind FNextKind = ekEnd;
    std::uint8_t FNextLevel = 0; // ekLevel

    // Loads the next event.
    void Advance() {
        if (FTransitionsLeft > 0) {
            double time;
            if (FEnd - FPos >= 8) {
                time = LoadLittle<double>(FPos);
                FPos += 8;
            } else {
                char bytes[8];
                ReadExact(bytes, 8, "a transition time");
                time = LoadLittle<double>(bytes);
            }
            --FTransitionsLeft;
            // Also false for NaN; +-infinity lies outside the (finite) chunk.
            if (!(time >= FPrevTime && time <= FChunkEnd)) {
                FailTime(time);
            }
            FPrevTime = time;
            FNextTime = time;
            FNextKind = ekToggle;
            return;
        }
        AdvanceChunk();
    }

private:
    static constexpr std::size_t BufferBytes = 256 * 1024;

    [[noreturn]] void Fail(std::uint64_t offset, const std::string& what) const {
        throw TInputError(0, FName + ": byte " + std::to_string(offset) + ": " + what);
    }

    [[noreturn]] void FailTime(double time) const {
        const std::uint64_t at = BytesConsumed() - 8;
        if (!std::isfinite(time)) {
            Fail(at, "a transition time is not a finite number");
        }
        if (time < FPrevTime) {
            Fail(at, "the transition times go backwards");
        }
        Fail(at, "a transition lies after its chunk's end time");
    }

    // Fills `out` with the next `size` bytes, or fails naming `what` was cut short.
    void ReadExact(char* out, std::size_t size, const char* what) {
        while (size > 0) {
            if (FPos == FEnd && !Refill()) {
                Fail(BytesConsumed(), std::string("the file ends inside ") + what);
            }
            const std::size_t n = std::min(size, static_cast<std::size_t>(FEnd - FPos));
            std::memcpy(out, FPos, n);
            FPos += n;
            out += n;
            size -= n;
        }
    }

    // Reads more bytes after the unread ones; false at the end of the file.
    bool Refill() {
        const std::size_t kept = static_cast<std::size_t>(FEnd - FPos);
        FOffset += static_cast<std::uint64_t>(FPos - FBuffer.get());
        std::memmove(FBuffer.get(), FPos, kept);
        FPos = FBuffer.get();
        FEnd = FBuffer.get() + kept;
        if (FEof) {
            return false;
        }
        while (FEnd < FBuffer.get() + BufferBytes) {
            const std::size_t n = FSource->Read(FEnd, BufferBytes - static_cast<std::size_t>(FEnd - FBuffer.get()));
            if (n == 0) {
                FEof = true;
                break;
            }
            FEnd += n;
            if (static_cast<std::size_t>(FEnd - FPos) >= 8 * 1024) {
                break; // enough to go on with; the rest on the next refill
            }
        }
        return FEnd > FPos;
    }

    // After a chunk's transitions: the gap to the next chunk, the next chunk's begin, or the
    // end of the file.
    void AdvanceChunk() {
        if (FPendingLevel) {
            FPendingLevel = false;
            FTransitionsLeft = FPendingTransitions;
            FNextTime = FChunkBegin;
            FNextKind = ekLevel;
            FNextLevel = FChunkLevel;
            FPrevTime = FChunkBegin;
            return;
        }
        if (FChunksLeft == 0) {
            if (!FCheckedEnd) {
                FCheckedEnd = true;
                if (FPos != FEnd || Refill()) {
                    Fail(BytesConsumed(), "bytes follow the last transition");
                }
            }
            FNextTime = Never;
            FNextKind = ekEnd;
            return;
        }
        --FChunksLeft;
        const std::uint64_t at = BytesConsumed();
        const bool v1 = FVersion == 1;
        char header[36];
        const std::size_t size = v1 ? 36 : 28;
        ReadExact(header, size, "a chunk's header");
        const std::uint32_t initial = LoadLittle<std::uint32_t>(header);
        const char* p = header + 4;
        if (v1) {
            const double rate = LoadLittle<double>(p);
            if (!std::isfinite(rate) || rate < 0) {
                Fail(at + 4, "the sample rate is not a finite number");
            }
            p += 8;
        }
        const double begin = LoadLittle<double>(p);
        const double end = LoadLittle<double>(p + 8);
        FTransitionsLeft = LoadLittle<std::uint64_t>(p + 16);
        const std::uint64_t timesAt = at + static_cast<std::uint64_t>(p - header);
        if (initial > 1) {
            Fail(at, "the initial state " + std::to_string(initial) + " is not 0 or 1");
        }
        if (!std::isfinite(begin) || !std::isfinite(end)) {
            Fail(timesAt, "the begin or end time is not a finite number");
        }
        if (end < begin) {
            Fail(timesAt, "the end time lies before the begin time");
        }
        if (begin < FPrevEnd) {
            Fail(timesAt, "the chunk begins before the previous one ends");
        }
        const bool gap = FPrevEnd != -Never && begin > FPrevEnd;
        const double gapAt = FPrevEnd;
        FChunkBegin = begin;
        FChunkEnd = end;
        FChunkLevel = static_cast<std::uint8_t>(initial);
        FPrevEnd = end;
        if (gap) {
            // The gap first; the chunk's level and transitions after it.
            FPendingTransitions = FTransitionsLeft;
            FTransitionsLeft = 0;
            FNextTime = gapAt;
            FNextKind = ekGap;
            FPendingLevel = true;
            FPrevTime = gapAt;
            return;
        }
        FNextTime = begin;
        FNextKind = ekLevel;
        FNextLevel = FChunkLevel;
        FPrevTime = begin;
    }

    std::unique_ptr<TByteSource> FSource;
    std::string FName;
    std::unique_ptr<char[]> FBuffer;
    const char* FPos = nullptr;
    char* FEnd = nullptr;
    std::uint64_t FOffset = 0;
    bool FEof = false;
    bool FCheckedEnd = false;
    std::int32_t FVersion = 0;
    std::uint64_t FChunksLeft = 0;
    std::uint64_t FTransitionsLeft = 0;
    double FPrevTime = 0.0;
    double FPrevEnd = 0.0;
    double FChunkBegin = 0.0;
    double FChunkEnd = 0.0;
    std::uint8_t FChunkLevel = 0;
    bool FPendingLevel = false;
    std::uint64_t FPendingTransitions = 0;
    double FBegin = 0.0;
};

class TSaleaeBinarySource final : public TLogicSource {
public:
    explicit TSaleaeBinarySource(std::vector<TSaleaeBinaryChannel> channels) : FChannels(std::move(channels)) {
        for (const TSaleaeBinaryChannel& channel : FChannels) {
            std::string name = channel.Name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bin") == 0) {
                name.resize(name.size() - 4);
            }
            FNames.push_back(name);
        }
    }

    const std::vector<std::string>& ChannelNames() const override { return FNames; }

    void SelectChannels(std::size_t clock, std::size_t data) override {
        NSignal::CheckChannelChoice(FNames, clock, data);
        for (const std::size_t index : {clock, data}) {
            if (!FChannels[index].Open) {
                throw TInputError(0, "the export holds no file for channel " + std::to_string(index) +
                                         " (digital_" + std::to_string(index) + ".bin)");
            }
        }
        FClock = std::make_unique<TChannelFile>(FChannels[clock].Open(), FChannels[clock].Name);
        FData = std::make_unique<TChannelFile>(FChannels[data].Open(), FChannels[data].Name);
        FStart = std::min(FClock->Begin(), FData->Begin());
        // Both channels lack data until their first chunk begins.
        FGapMask = LogicClockBit | LogicDataBit;
        FLevels = LogicGapBit;
        // The events at the start make the initial levels.
        while (std::min(FClock->FNextTime, FData->FNextTime) <= FStart) {
            TChannelFile& c = FClock->FNextTime <= FData->FNextTime ? *FClock : *FData;
            Apply(c, &c == FClock.get() ? LogicClockBit : LogicDataBit);
            c.Advance();
        }
        FInitial = FLevels;
        FEmitted = FLevels;
    }

    std::uint8_t InitialLevels() const override { return FInitial; }
    double SamplePeriod() const override { return 0.0; }

    bool Read(std::vector<TLogicEdge>& edges) override {
        if (!FClock) {
            throw TInputError(0, "the channels were not chosen before reading");
        }
        return FDeferred.Run(edges, [&] {
            try {
                ReadEdges(edges);
            } catch (const TInputError&) {
                // The change waiting for others at its time is complete: the fault lies after it.
                FlushPending(edges);
                throw;
            }
        });
    }

    double EndTime() const override { return FEndTime; }
    std::uint64_t BytesConsumed() const override {
        return (FClock ? FClock->BytesConsumed() : 0) + (FData ? FData->BytesConsumed() : 0);
    }

private:
    static constexpr std::size_t BatchEdges = 16384;

    void FlushPending(std::vector<TLogicEdge>& edges) {
        if (FHavePending) {
            FHavePending = false;
            if (FPending.Levels != FEmitted) {
                edges.push_back({FPending.Time - FStart, FPending.Levels});
                FEmitted = FPending.Levels;
            }
        }
    }

    void ReadEdges(std::vector<TLogicEdge>& edges) {
        TChannelFile& a = *FClock;
        TChannelFile& b = *FData;
        while (edges.size() < BatchEdges) {
            const bool takeA = a.FNextTime <= b.FNextTime;
            TChannelFile& c = takeA ? a : b;
            const double time = c.FNextTime;
            if (time == Never) {
                break;
            }
            const std::uint8_t bit = takeA ? LogicClockBit : LogicDataBit;
            if (c.FNextKind == TChannelFile::ekToggle) {
                FLevels ^= bit;
            } else {
                Apply(c, bit);
            }
            // Changes at the same time become one edge.
            if (FHavePending && time == FPending.Time) {
                FPending.Levels = FLevels;
            } else {
                if (FHavePending && FPending.Levels != FEmitted) {
                    edges.push_back({FPending.Time - FStart, FPending.Levels});
                    FEmitted = FPending.Levels;
                }
                FPending = {time, FLevels};
                FHavePending = true;
            }
            // Last: a fault in the next event leaves this one delivered.
            c.Advance();
        }
        if (a.FNextTime == Never && b.FNextTime == Never) {
            // Both files are at their end: the last pending edge.
            FlushPending(edges);
            FEndTime = std::max(a.End(), b.End()) - FStart;
        }
    }

    // Applies the next event of channel `c` (the channel in `bit`), without loading the one after.
    void Apply(const TChannelFile& c, std::uint8_t bit) {
        const bool wasGap = (FGapMask & bit) != 0;
        switch (c.FNextKind) {
        case TChannelFile::ekToggle:
            FLevels ^= bit;
            break;
        case TChannelFile::ekLevel:
            if (wasGap) {
                FGapMask = static_cast<std::uint8_t>(FGapMask & ~bit);
            }
            FLevels = static_cast<std::uint8_t>((FLevels & ~bit) | (c.FNextLevel ? bit : 0));
            break;
        case TChannelFile::ekGap:
            FGapMask |= bit;
            break;
        case TChannelFile::ekEnd:
            break;
        }
        FLevels = static_cast<std::uint8_t>((FLevels & ~LogicGapBit) | (FGapMask != 0 ? LogicGapBit : 0));
    }

    std::vector<TSaleaeBinaryChannel> FChannels;
    std::vector<std::string> FNames;
    NSignal::TDeferredError FDeferred;
    std::unique_ptr<TChannelFile> FClock;
    std::unique_ptr<TChannelFile> FData;
    double FStart = 0.0;
    std::uint8_t FGapMask = LogicClockBit | LogicDataBit;
    std::uint8_t FLevels = 0;
    std::uint8_t FInitial = 0;
    std::uint8_t FEmitted = 0;
    TLogicEdge FPending;
    bool FHavePending = false;
    double FEndTime = 0.0;
};

// The channel number of a file named digital_N.bin; false for another name.
bool ChannelNumber(const std::string& fileName, std::size_t& number) {
    constexpr std::string_view prefix = "digital_";
    constexpr std::string_view suffix = ".bin";
    if (fileName.size() <= prefix.size() + suffix.size() || fileName.compare(0, prefix.size(), prefix) != 0 ||
        fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    const std::string_view digits =
        std::string_view(fileName).substr(prefix.size(), fileName.size() - prefix.size() - suffix.size());
    std::uint64_t value = 0;
    if (!NSignal::ParseUnsigned(digits, value) || value > 1023) {
        return false;
    }
    number = static_cast<std::size_t>(value);
    return true;
}

} // namespace

std::unique_ptr<TLogicSource> OpenSaleaeBinarySource(std::vector<TSaleaeBinaryChannel> channels) {
    if (channels.empty()) {
        throw TInputError(0, "the binary export holds no digital channel");
    }
    return std::make_unique<TSaleaeBinarySource>(std::move(channels));
}

std::unique_ptr<TLogicSource> OpenSaleaeBinaryExport(const std::vector<std::filesystem::path>& paths) {
    std::map<std::size_t, std::filesystem::path> files;
    std::error_code error;
    const auto add = [&](const std::filesystem::path& path, bool fromFolder) {
        std::size_t number = 0;
        if (!ChannelNumber(path.filename().string(), number)) {
            if (fromFolder) {
                return;
            }
            throw TInputError(0, path.filename().string() +
                                     ": the channel of a binary export file comes from its name, digital_N.bin");
        }
        if (!files.emplace(number, path).second) {
            throw TInputError(0, path.filename().string() + " is given twice");
        }
    };
    for (const std::filesystem::path& path : paths) {
        if (std::filesystem::is_directory(path, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
                if (entry.is_regular_file(error)) {
                    add(entry.path(), true);
                }
            }
        } else {
            add(path, false);
        }
    }
    if (files.empty()) {
        throw TInputError(0, "no digital_N.bin file found: give the export folder or its digital_N.bin files");
    }
    std::vector<TSaleaeBinaryChannel> channels(files.rbegin()->first + 1);
    for (const auto& entry : files) {
        const std::filesystem::path path = entry.second;
        const std::string name = path.filename().string();
        channels[entry.first].Name = name;
        channels[entry.first].Open = [path, name]() -> std::unique_ptr<TByteSource> {
            return std::make_unique<NSignal::TFileByteSource>(path, name);
        };
    }
    return OpenSaleaeBinarySource(std::move(channels));
}

std::filesystem::path SaleaeBinaryExportFolder(const std::filesystem::path& path) {
    std::error_code error;
    std::size_t number = 0;
    if (std::filesystem::is_directory(path, error)) {
        for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
            if (ChannelNumber(entry.path().filename().string(), number)) {
                return path;
            }
        }
        return {};
    }
    if (!ChannelNumber(path.filename().string(), number)) {
        return {};
    }
    std::ifstream file(path, std::ios::binary);
    char first[16] = {};
    if (!file.read(first, sizeof first) || !LooksLikeSaleaeBinary(std::string_view(first, sizeof first))) {
        return {};
    }
    return path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
}

bool LooksLikeSaleaeBinary(std::string_view firstBytes) {
    if (firstBytes.size() < 16 || firstBytes.substr(0, 8) != Identifier) {
        return false;
    }
    const std::int32_t version = LoadLittle<std::int32_t>(firstBytes.data() + 8);
    const std::int32_t type = LoadLittle<std::int32_t>(firstBytes.data() + 12);
    return (version == 0 || version == 1) && type == 0;
}
