// A sigrok session file as a stream of edges; see sigroksession.h.
#include "capture/signal/sigroksession.h"

#include "capture/linereader.h"
#include "capture/signal/signalsupport.h"

#include <zip.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>

void ScanSampleChanges(const std::uint8_t* samples, std::size_t count, std::uint8_t previous, std::uint8_t mask,
                       std::vector<std::uint32_t>& changes) {
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        const std::uint64_t maskWord = 0x0101010101010101ULL * mask;
        std::uint64_t prev = previous;
        // Byte k of (w << 8 | prev) is the sample before byte k of w: their XOR under the
        // mask is non-zero exactly at the changes.
        const auto changesIn = [&](std::uint64_t w, std::uint64_t before) {
            return (w ^ ((w << 8) | before)) & maskWord;
        };
        const auto append = [&](std::uint64_t diff, std::size_t base) {
            while (diff != 0) {
                const unsigned byte = static_cast<unsigned>(std::countr_zero(diff)) / 8;
                changes.push_back(static_cast<std::uint32_t>(base + byte));
                diff &= ~(std::uint64_t{0xFF} << (byte * 8));
            }
        };
        for (; i + 32 <= count; i += 32) {
            std::uint64_t w[4];
            std::memcpy(w, samples + i, 32);
            const std::uint64_t d0 = changesIn(w[0], prev);
            const std::uint64_t d1 = changesIn(w[1], w[0] >> 56);
            const std::uint64_t d2 = changesIn(w[2], w[1] >> 56);
            const std::uint64_t d3 = changesIn(w[3], w[2] >> 56);
            prev = w[3] >> 56;
            if ((d0 | d1 | d2 | d3) == 0) {
                continue;
            }
            append(d0, i);
            append(d1, i + 8);
            append(d2, i + 16);
            append(d3, i + 24);
        }
        for (; i + 8 <= count; i += 8) {
            std::uint64_t w;
            std::memcpy(&w, samples + i, 8);
            append(changesIn(w, prev), i);
            prev = w >> 56;
        }
        previous = static_cast<std::uint8_t>(prev);
    }
    for (; i < count; ++i) {
        if (((samples[i] ^ previous) & mask) != 0) {
            changes.push_back(static_cast<std::uint32_t>(i));
        }
        previous = samples[i];
    }
}

namespace {

constexpr std::size_t MaxMetadataBytes = 1 << 20;
constexpr std::size_t MaxUnitSize = 8;
constexpr std::size_t BlockBytes = 256 * 1024;

std::string ZipErrorText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

// The sample rate in Hz of a metadata value: "1 MHz", "500 kHz", "1000000"; 0 when it is none.
double ParseSampleRate(std::string_view text) {
    text = TrimBlanks(text);
    std::size_t numberEnd = 0;
    while (numberEnd < text.size() &&
           ((text[numberEnd] >= '0' && text[numberEnd] <= '9') || text[numberEnd] == '.')) {
        ++numberEnd;
    }
    double value = 0.0;
    if (!NSignal::ParseDouble(text.substr(0, numberEnd), value)) {
        return 0.0;
    }
    const std::string_view unit = TrimBlanks(text.substr(numberEnd));
    double scale = 0.0;
    if (unit.empty() || unit == "Hz") {
        scale = 1.0;
    } else if (unit == "kHz") {
        scale = 1e3;
    } else if (unit == "MHz") {
        scale = 1e6;
    } else if (unit == "GHz") {
        scale = 1e9;
    }
    const double rate = value * scale;
    return std::isfinite(rate) && rate > 0.0 ? rate : 0.0;
}

struct TZipDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};

class TSigrokSession final : public TLogicSource {
public:
    // Takes `archive`, and `memory` when the archive reads from it.
    TSigrokSession(zip_t* archive, std::unique_ptr<std::string> memory)
        : FMemory(std::move(memory)), FArchiveOwner(archive), FArchive(archive),
          FBlock(new std::uint8_t[BlockBytes + MaxUnitSize]) {
        ReadVersion();
        ReadMetadata();
        FindDataMembers();
    }

    ~TSigrokSession() override {
        if (FFile != nullptr) {
            zip_fclose(FFile);
        }
    }
    TSigrokSession(const TSigrokSession&) = delete;
    TSigrokSession& operator=(const TSigrokSession&) = delete;

    const std::vector<std::string>& ChannelNames() const override { return FNames; }

    void SelectChannels(std::size_t clock, std::size_t data) override {
        NSignal::CheckChannelChoice(FNames, clock, data);
        FClockByte = clock / 8;
        FClockMask = static_cast<std::uint8_t>(1U << (clock % 8));
        FDataByte = data / 8;
        FDataMask = static_cast<std::uint8_t>(1U << (data % 8));
        FSingleByte = FUnitSize == 1;
        FByteMask = static_cast<std::uint8_t>(FClockMask | FDataMask);
        if (!LoadBlock()) {
            throw TInputError(0, FMembers.front() + ": the session holds no sample");
        }
        FLevels = LevelsOf(FBlock.get());
        FInitial = FLevels;
        FPrevious = FBlock[0];
        FSelected = true;
        // The first sample sets the levels; changes start from the second.
        Scan(1);
    }

    std::uint8_t InitialLevels() const override { return FInitial; }
    double SamplePeriod() const override { return 1.0 / FRate; }

    bool Read(std::vector<TLogicEdge>& edges) override {
        if (!FSelected) {
            throw TInputError(0, "the channels were not chosen before reading");
        }
        return FDeferred.Run(edges, [&] { ReadEdges(edges); });
    }

    double EndTime() const override { return static_cast<double>(FSamples) / FRate; }

    std::uint64_t BytesConsumed() const override {
        return FCompressedDone +
               (FMemberSize == 0 ? 0 : static_cast<std::uint64_t>(static_cast<double>(FMemberCompressed) *
                                                                  static_cast<double>(FMemberRead) /
                                                                  static_cast<double>(FMemberSize)));
    }

private:
    static constexpr std::size_t BatchEdges = 16384;

    void ReadEdges(std::vector<TLogicEdge>& edges) {
        while (edges.size() < BatchEdges) {
            if (FNextChange == FChanges.size()) {
                if (!LoadBlock()) {
                    break;
                }
                Scan(0);
                continue;
            }
            const std::uint32_t offset = FChanges[FNextChange++];
            const std::uint8_t levels = LevelsOf(FBlock.get() + std::size_t{offset} * FUnitSize);
            if (levels != FLevels) { // other bits of the same bytes changed too
                FLevels = levels;
                edges.push_back({static_cast<double>(FBlockFirstSample + offset) / FRate, levels});
            }
        }
    }

    std::uint8_t LevelsOf(const std::uint8_t* sample) const {
        return static_cast<std::uint8_t>(((sample[FClockByte] & FClockMask) != 0 ? LogicClockBit : 0) |
                                         ((sample[FDataByte] & FDataMask) != 0 ? LogicDataBit : 0));
    }

    // Finds the changes of the loaded block from sample `first` on.
    void Scan(std::size_t first) {
        FChanges.clear();
        FNextChange = 0;
        if (FSingleByte) {
            if (first < FBlockSamples) {
                ScanSampleChanges(FBlock.get() + first, FBlockSamples - first, FPrevious, FByteMask, FChanges);
                if (first != 0) {
                    for (std::uint32_t& change : FChanges) {
                        change += static_cast<std::uint32_t>(first);
                    }
                }
            }
            FPrevious = FBlock[FBlockSamples - 1];
            return;
        }
        std::uint8_t previous = FLevels;
        for (std::size_t i = first; i < FBlockSamples; ++i) {
            const std::uint8_t levels = LevelsOf(FBlock.get() + i * FUnitSize);
            if (levels != previous) {
                FChanges.push_back(static_cast<std::uint32_t>(i));
                previous = levels;
            }
        }
    }

    [[noreturn]] void Fail(const std::string& member, const std::string& what) const {
        throw TInputError(0, member + ": " + what);
    }

    // The whole of a small member; fails when it is missing or larger than `limit`.
    std::string ReadSmallMember(const char* name, std::size_t limit) {
        const zip_int64_t index = zip_name_locate(FArchive, name, 0);
        if (index < 0) {
            Fail(name, "the session holds no such member (is it a sigrok session?)");
        }
        zip_file_t* file = zip_fopen_index(FArchive, static_cast<zip_uint64_t>(index), 0);
        if (file == nullptr) {
            Fail(name, std::string("cannot be read: ") + zip_error_strerror(zip_get_error(FArchive)));
        }
        std::string text;
        char buffer[4096];
        for (;;) {
            const zip_int64_t n = zip_fread(file, buffer, sizeof buffer);
            if (n < 0) {
                const std::string why = zip_error_strerror(zip_file_get_error(file));
                zip_fclose(file);
                Fail(name, "cannot be read: " + why);
            }
            if (n == 0) {
                break;
            }
            text.append(buffer, static_cast<std::size_t>(n));
            if (text.size() > limit) {
                zip_fclose(file);
                Fail(name, "is too large for metadata");
            }
        }
        zip_fclose(file);
        return text;
    }

    void ReadVersion() {
        const std::string text = ReadSmallMember("version", 64);
        std::uint64_t version = 0;
        if (!NSignal::ParseUnsigned(TrimBlanks(text), version)) {
            Fail("version", "\"" + std::string(TrimBlanks(text)) + "\" is not a version number");
        }
        if (version < 1 || version > 2) {
            Fail("version", "session format version " + std::to_string(version) + " is not known (1 and 2 are)");
        }
    }

    void ReadMetadata() {
        const std::string text = ReadSmallMember("metadata", MaxMetadataBytes);
        std::map<std::size_t, std::string> probes;
        std::string section;
        bool inDevice = false;
        bool deviceDone = false;
        std::string rate;
        std::string unitSize;
        std::string totalProbes;
        std::size_t lineNumber = 0;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find_first_of("\r\n", start);
            if (end == std::string::npos) {
                end = text.size();
            }
            const std::string_view line = TrimBlanks(std::string_view(text).substr(start, end - start));
            ++lineNumber;
            start = end + 1;
            if (line.empty() || line[0] == '#') {
                continue;
            }
            const std::string where = "line " + std::to_string(lineNumber) + ": ";
            if (line.front() == '[') {
                if (line.back() != ']') {
                    Fail("metadata", where + "a section name without its ']'");
                }
                section = std::string(line.substr(1, line.size() - 2));
                // The first device's section; a session holds one.
                deviceDone = deviceDone || inDevice;
                inDevice = !deviceDone && section.rfind("device ", 0) == 0;
                continue;
            }
            const std::size_t equals = line.find('=');
            if (equals == std::string_view::npos) {
                Fail("metadata", where + "a line that is not key=value");
            }
            if (!inDevice) {
                continue;
            }
            const std::string key(TrimBlanks(line.substr(0, equals)));
            const std::string value(TrimBlanks(line.substr(equals + 1)));
            if (key == "samplerate") {
                rate = value;
            } else if (key == "unitsize") {
                unitSize = value;
            } else if (key == "total probes") {
                totalProbes = value;
            } else if (key == "capturefile") {
                FCaptureFile = value;
            } else if (key.rfind("probe", 0) == 0) {
                std::uint64_t number = 0;
                if (!NSignal::ParseUnsigned(std::string_view(key).substr(5), number) || number == 0 ||
                    number > MaxUnitSize * 8) {
                    Fail("metadata", where + "the probe index of \"" + key + "\" is out of range (1 to " +
                                         std::to_string(MaxUnitSize * 8) + ")");
                }
                probes[static_cast<std::size_t>(number)] = value;
            }
        }
        std::uint64_t size = 0;
        if (unitSize.empty()) {
            Fail("metadata", "no unitsize (bytes per sample)");
        }
        if (!NSignal::ParseUnsigned(unitSize, size) || size == 0 || size > MaxUnitSize) {
            Fail("metadata", "unitsize \"" + unitSize + "\" is out of range (1 to " + std::to_string(MaxUnitSize) + ")");
        }
        FUnitSize = static_cast<std::size_t>(size);
        if (rate.empty()) {
            Fail("metadata", "no samplerate");
        }
        FRate = ParseSampleRate(rate);
        if (FRate == 0.0) {
            Fail("metadata", "samplerate \"" + rate + "\" is not a rate (such as \"1 MHz\" or \"1000000\")");
        }
        std::uint64_t total = 0;
        if (!totalProbes.empty() && !NSignal::ParseUnsigned(totalProbes, total)) {
            Fail("metadata", "total probes \"" + totalProbes + "\" is not a number");
        }
        if (total > FUnitSize * 8) {
            Fail("metadata", "total probes " + totalProbes + " do not fit in unitsize " + unitSize);
        }
        std::size_t count = static_cast<std::size_t>(total);
        for (const auto& [number, name] : probes) {
            if (number > FUnitSize * 8) {
                Fail("metadata", "probe" + std::to_string(number) + " lies outside the " +
                                     std::to_string(FUnitSize * 8) + " bits of unitsize " + unitSize);
            }
            count = std::max(count, number);
        }
        if (count == 0) {
            Fail("metadata", "no logic probe");
        }
        FNames.assign(count, std::string());
        for (const auto& [number, name] : probes) {
            FNames[number - 1] = name;
        }
    }

    void FindDataMembers() {
        if (FCaptureFile.empty()) {
            FCaptureFile = "logic-1";
        }
        for (std::size_t chunk = 1;; ++chunk) {
            const std::string name = FCaptureFile + "-" + std::to_string(chunk);
            if (zip_name_locate(FArchive, name.c_str(), 0) < 0) {
                break;
            }
            FMembers.push_back(name);
        }
        if (FMembers.empty()) {
            if (zip_name_locate(FArchive, FCaptureFile.c_str(), 0) < 0) {
                Fail(FCaptureFile + "-1", "the session holds no logic data member (" + FCaptureFile + "-1 or " +
                                              FCaptureFile + ")");
            }
            FMembers.push_back(FCaptureFile);
        }
    }

    // Opens the next member; false after the last.
    bool OpenNextMember() {
        if (FFile != nullptr) {
            zip_fclose(FFile);
            FFile = nullptr;
            FCompressedDone += FMemberCompressed;
            FMemberCompressed = FMemberSize = FMemberRead = 0;
        }
        if (FMember == FMembers.size()) {
            return false;
        }
        const std::string& name = FMembers[FMember++];
        const zip_int64_t index = zip_name_locate(FArchive, name.c_str(), 0);
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (index < 0 || zip_stat_index(FArchive, static_cast<zip_uint64_t>(index), 0, &stat) != 0) {
            Fail(name, std::string("cannot be read: ") + zip_error_strerror(zip_get_error(FArchive)));
        }
        FMemberSize = (stat.valid & ZIP_STAT_SIZE) != 0 ? stat.size : 0;
        FMemberCompressed = (stat.valid & ZIP_STAT_COMP_SIZE) != 0 ? stat.comp_size : 0;
        FFile = zip_fopen_index(FArchive, static_cast<zip_uint64_t>(index), 0);
        if (FFile == nullptr) {
            Fail(name, std::string("cannot be read: ") + zip_error_strerror(zip_get_error(FArchive)));
        }
        return true;
    }

    // Inflates the next block of whole samples (a partial sample at a member's end is
    // completed from the next); false at the end of the data.
    bool LoadBlock() {
        if (FBlockSamples > 0) {
            FBlockFirstSample += FBlockSamples;
        }
        FBlockSamples = 0;
        std::size_t filled = FCarry;
        if (FCarry > 0) {
            std::memmove(FBlock.get(), FBlock.get() + FCarryAt, FCarry);
            FCarry = 0;
        }
        while (filled < BlockBytes) {
            if (FFile == nullptr && !OpenNextMember()) {
                break;
            }
            const zip_int64_t n = zip_fread(FFile, FBlock.get() + filled, BlockBytes - filled);
            if (n < 0) {
                Fail(FMembers[FMember - 1], "byte " + std::to_string(FMemberRead) + " of the inflated data: " +
                                                zip_error_strerror(zip_file_get_error(FFile)));
            }
            if (n == 0) {
                // This member is done: on to the next one, if any.
                if (!OpenNextMember()) {
                    break;
                }
                continue;
            }
            FMemberRead += static_cast<std::uint64_t>(n);
            filled += static_cast<std::size_t>(n);
        }
        const std::size_t whole = filled / FUnitSize;
        const std::size_t rest = filled - whole * FUnitSize;
        if (whole == 0) {
            if (rest != 0) {
                Fail(FMembers.back(), "the data ends inside a sample of " + std::to_string(FUnitSize) + " bytes");
            }
            return false;
        }
        FBlockSamples = whole;
        FSamples += whole;
        FCarry = rest;
        FCarryAt = whole * FUnitSize;
        return true;
    }

    // Destroyed in reverse order: the archive before the bytes it reads.
    std::unique_ptr<std::string> FMemory; // the archive's bytes when it is read from memory
    std::unique_ptr<zip_t, TZipDiscard> FArchiveOwner;
    zip_t* FArchive;
    NSignal::TDeferredError FDeferred;
    std::vector<std::string> FNames;
    std::string FCaptureFile;
    std::vector<std::string> FMembers;
    std::size_t FMember = 0;
    zip_file_t* FFile = nullptr;
    std::uint64_t FMemberSize = 0;
    std::uint64_t FMemberCompressed = 0;
    std::uint64_t FMemberRead = 0;
    std::uint64_t FCompressedDone = 0;
    std::size_t FUnitSize = 1;
    double FRate = 1.0;

    std::unique_ptr<std::uint8_t[]> FBlock;
    std::size_t FBlockSamples = 0;
    std::uint64_t FBlockFirstSample = 0;
    std::uint64_t FSamples = 0;
    std::size_t FCarry = 0;
    std::size_t FCarryAt = 0;
    std::vector<std::uint32_t> FChanges;
    std::size_t FNextChange = 0;

    std::size_t FClockByte = 0;
    std::size_t FDataByte = 0;
    std::uint8_t FClockMask = 0;
    std::uint8_t FDataMask = 0;
    std::uint8_t FByteMask = 0;
    bool FSingleByte = true;
    std::uint8_t FPrevious = 0;
    std::uint8_t FLevels = 0;
    std::uint8_t FInitial = 0;
    bool FSelected = false;
};

} // namespace

std::unique_ptr<TLogicSource> OpenSigrokSession(const std::filesystem::path& path) {
    std::error_code error;
    if (path == "-" || !std::filesystem::is_regular_file(path, error)) {
        throw TInputError(0, "a sigrok session is a zip archive, read from a file: it cannot come from a pipe or "
                             "standard input; save it to a file and give its name");
    }
    int code = 0;
    zip_t* archive = zip_open(path.string().c_str(), ZIP_RDONLY, &code);
    if (archive == nullptr) {
        throw TInputError(0, "not a readable zip archive (a truncated or damaged session?): " + ZipErrorText(code));
    }
    return std::make_unique<TSigrokSession>(archive, nullptr);
}

std::unique_ptr<TLogicSource> OpenSigrokSessionMemory(std::string data) {
    zip_error_t error;
    zip_error_init(&error);
    // The session owns the bytes, on the heap so that they stay where the archive reads them.
    auto holder = std::make_unique<std::string>(std::move(data));
    zip_source_t* source = zip_source_buffer_create(holder->data(), holder->size(), 0, &error);
    if (source == nullptr) {
        const std::string why = zip_error_strerror(&error);
        zip_error_fini(&error);
        throw TInputError(0, "cannot read the archive: " + why);
    }
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (archive == nullptr) {
        const std::string why = zip_error_strerror(&error);
        zip_error_fini(&error);
        zip_source_free(source);
        throw TInputError(0, "not a readable zip archive (a truncated or damaged session?): " + why);
    }
    zip_error_fini(&error);
    return std::make_unique<TSigrokSession>(archive, std::move(holder));
}

bool LooksLikeSigrokSession(std::string_view firstBytes) {
    // A zip's local file header: signature, then the name's length at 26 and the name at 30.
    if (firstBytes.size() < 30 || firstBytes.substr(0, 4) != std::string_view("PK\x03\x04", 4)) {
        return false;
    }
    const std::size_t nameLength = static_cast<unsigned char>(firstBytes[26]) |
                                   (static_cast<std::size_t>(static_cast<unsigned char>(firstBytes[27])) << 8);
    if (firstBytes.size() < 30 + nameLength) {
        return false;
    }
    const std::string_view name = firstBytes.substr(30, nameLength);
    return name == "version" || name == "metadata" || name == "mimetype";
}
