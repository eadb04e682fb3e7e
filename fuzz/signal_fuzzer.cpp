// libFuzzer harness for the signal readers (Saleae digital CSV and binary exports, sigrok
// sessions, VCD). The first fuzz byte chooses the reader, the second the two channels; the
// rest is the input (for the binary export: a 4-byte little-endian length of the first
// channel's file, that file, then the second channel's file). Each input is read to its end
// whole, in pieces of pseudo-random sizes, and cut short. Properties: no crash or sanitizer
// report, only TInputError as a failure, edges in time order with only the level and gap bits,
// the same edges and error whatever the pieces, and an input cut at a line end (text) or
// anywhere (binary, zip) giving the full input's edges up to a point, or a TInputError. The
// last edge of a cut input may differ: the changes at its time may have been cut in two.
//
// The same input is then opened through the registry of formats, as corvane-decode opens it
// (OpenCaptureReader, the format named and "auto"; sessions and binary exports from files
// written to a temporary folder, as the registry reads them by name), with the channels chosen
// by index. Properties: only TInputError as a failure; every frame has its timing, burst
// numbers that climb by one, and for ckBits a bit count of 1 to 256 written as that many
// bits of uppercase hexadecimal; the frames equal those of a burst decoder fed the edges read
// above; the named and the recognised format give the same frames.

#include "capture/signal/burstdecoder.h"
#include "capture/signal/saleaebinary.h"
#include "capture/signal/saleaedigital.h"
#include "capture/signal/sigroksession.h"
#include "capture/signal/vcd.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace {

[[noreturn]] void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "\nCHECK FAILED: %s\n  at %s:%d\n", what, file, line);
    std::fflush(stderr);
    std::abort();
}

#define CHECK(condition)                                                                          \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            Fail(#condition, __FILE__, __LINE__);                                                 \
        }                                                                                         \
    } while (false)

// Reads of pseudo-random sizes, as pipes and files deliver them.
class TPiecesSource final : public TByteSource {
public:
    TPiecesSource(std::string_view data, std::uint32_t seed) : FData(data), FState(seed | 1U) {}
    std::size_t Read(char* buffer, std::size_t capacity) override {
        FState ^= FState << 13;
        FState ^= FState >> 17;
        FState ^= FState << 5;
        const std::size_t piece = std::min({std::size_t{1} + FState % 97, capacity, FData.size() - FOffset});
        std::memcpy(buffer, FData.data() + FOffset, piece);
        FOffset += piece;
        return piece;
    }

private:
    std::string_view FData;
    std::size_t FOffset = 0;
    std::uint32_t FState;
};

struct TOutcome {
    bool Failed = false;
    std::string Error;
    std::vector<TLogicEdge> Edges;
    // After a read without failure: what a burst decoder needs besides the edges.
    std::vector<std::string> Names;
    std::uint8_t Initial = 0;
    double SamplePeriod = 0.0;
    double End = 0.0;
};

enum TReader { rdCsv, rdVcd, rdBinary, rdSigrok, rdCount };

TOutcome ReadAll(TReader reader, std::string_view input, std::size_t clock, std::size_t data, std::uint32_t seed) {
    TOutcome outcome;
    try {
        std::unique_ptr<TByteSource> text;
        std::unique_ptr<TLogicSource> source;
        if (seed == 0) {
            text = std::make_unique<TMemoryByteSource>(input);
        } else {
            text = std::make_unique<TPiecesSource>(input, seed);
        }
        switch (reader) {
        case rdCsv:
            source = OpenSaleaeDigitalSource(*text);
            break;
        case rdVcd:
            source = OpenVcdSource(*text);
            break;
        case rdBinary: {
            std::uint32_t size = 0;
            if (input.size() >= 4) {
                std::memcpy(&size, input.data(), 4);
            }
            const std::string_view rest = input.substr(std::min<std::size_t>(4, input.size()));
            const std::string a(rest.substr(0, std::min<std::size_t>(size, rest.size())));
            const std::string b(rest.substr(a.size()));
            std::vector<TSaleaeBinaryChannel> channels;
            for (const std::string& file : {a, b, a, b}) {
                channels.push_back({"digital_" + std::to_string(channels.size()) + ".bin",
                                    [file, seed]() -> std::unique_ptr<TByteSource> {
                                        struct TOwned final : TByteSource {
                                            TOwned(std::string bytes, std::uint32_t s)
                                                : Bytes(std::move(bytes)), Pieces(Bytes, s) {}
                                            std::size_t Read(char* buffer, std::size_t capacity) override {
                                                return Pieces.Read(buffer, capacity);
                                            }
                                            std::string Bytes;
                                            TPiecesSource Pieces;
                                        };
                                        return std::make_unique<TOwned>(file, seed == 0 ? 1 : seed);
                                    }});
            }
            source = OpenSaleaeBinarySource(std::move(channels));
            break;
        }
        default:
            source = OpenSigrokSessionMemory(std::string(input));
            break;
        }
        CHECK(source != nullptr);
        source->SelectChannels(clock % std::max<std::size_t>(source->ChannelNames().size(), 1),
                               data % std::max<std::size_t>(source->ChannelNames().size(), 1));
        CHECK((source->InitialLevels() & ~(LogicClockBit | LogicDataBit | LogicGapBit)) == 0);
        std::vector<TLogicEdge> edges;
        double last = -INFINITY;
        while (source->Read(edges)) {
            CHECK(!edges.empty());
            for (const TLogicEdge& edge : edges) {
                CHECK(edge.Time >= last); // also false for NaN
                CHECK((edge.Levels & ~(LogicClockBit | LogicDataBit | LogicGapBit)) == 0);
                last = edge.Time;
                outcome.Edges.push_back(edge);
            }
            CHECK(outcome.Edges.size() < 100000000);
        }
        CHECK(edges.empty());
        CHECK(!source->Read(edges));
        outcome.Names = source->ChannelNames();
        outcome.Initial = source->InitialLevels();
        outcome.SamplePeriod = source->SamplePeriod();
        outcome.End = source->EndTime();
    } catch (const TInputError& error) {
        outcome.Failed = true;
        outcome.Error = error.what();
        CHECK(!outcome.Error.empty());
    } catch (const std::bad_alloc&) {
        Fail("out of memory", __FILE__, __LINE__);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "exception: %s\n", error.what());
        Fail("an exception other than TInputError", __FILE__, __LINE__);
    }
    return outcome;
}

bool SameEdge(const TLogicEdge& a, const TLogicEdge& b) { return a.Time == b.Time && a.Levels == b.Levels; }

// ---- Through the registry ----

// A frame as compared: its burst number, kind, text and time.
struct TFrameSeen {
    std::uint64_t Burst = 0;
    TCaptureKind Kind = TCaptureKind::ckCut;
    std::string Text;
    double Time = 0.0;
    bool operator==(const TFrameSeen& other) const {
        return Burst == other.Burst && Kind == other.Kind && Text == other.Text &&
               (Time == other.Time || (Time != Time && other.Time != other.Time));
    }
};

struct TFrames {
    bool Failed = false;
    std::string Format;
    std::vector<TFrameSeen> Frames;
};

const char* const FormatNames[rdCount] = {"saleae-digital", "vcd", "saleae-binary", "sigrok-session"};

// A folder of this process for the files the registry reads by name.
const std::filesystem::path& ScratchFolder() {
    static const std::filesystem::path folder = [] {
        const std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("corvane-signal-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

void WriteScratch(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    CHECK(file.good());
}

// Writes the input where the registry reads it; returns the path to give (empty: standard
// input).
std::string PlaceInput(TReader reader, std::string_view input) {
    const std::filesystem::path& folder = ScratchFolder();
    if (reader == rdSigrok) {
        WriteScratch(folder / "session.sr", input);
        return (folder / "session.sr").string();
    }
    if (reader == rdBinary) {
        std::uint32_t size = 0;
        if (input.size() >= 4) {
            std::memcpy(&size, input.data(), 4);
        }
        const std::string_view rest = input.substr(std::min<std::size_t>(4, input.size()));
        const std::string_view a = rest.substr(0, std::min<std::size_t>(size, rest.size()));
        const std::string_view b = rest.substr(a.size());
        const std::filesystem::path exportFolder = folder / "export";
        std::filesystem::create_directories(exportFolder);
        for (int channel = 0; channel < 4; ++channel) {
            WriteScratch(exportFolder / ("digital_" + std::to_string(channel) + ".bin"), channel % 2 == 0 ? a : b);
        }
        return exportFolder.string();
    }
    return std::string();
}

TFrames ReadThroughRegistry(std::string_view bytes, const std::string& path, const std::string& format,
                            std::size_t clock, std::size_t data) {
    TFrames frames;
    try {
        TMemoryByteSource source(bytes);
        TReaderOptions options;
        options.Format = format;
        options.Path = path;
        options.ClockChannel = std::to_string(clock);
        options.DataChannel = std::to_string(data);
        const std::unique_ptr<TCaptureReader> reader = OpenCaptureReader(source, options);
        frames.Format = std::string(reader->Format());
        TCaptureBatch batch;
        for (;;) {
            batch.Clear();
            const bool more = reader->ReadBatch(batch, 5);
            CHECK(more == !batch.Frames.empty());
            CHECK(batch.Frames.size() <= 5);
            const bool signal = reader->SignalStats() != nullptr;
            CHECK(!signal || batch.Timing.size() == batch.Frames.size());
            for (std::size_t i = 0; i < batch.Frames.size(); ++i) {
                const TCaptureFrame& frame = batch.Frames[i];
                const std::string_view text = batch.Input(frame);
                if (signal) {
                    CHECK(frame.Line == (frames.Frames.empty() ? 1 : frames.Frames.back().Burst + 1));
                    CHECK(frame.Kind == TCaptureKind::ckBits || frame.Kind == TCaptureKind::ckCut ||
                          frame.Kind == TCaptureKind::ckInvalid);
                }
                if (frame.Kind == TCaptureKind::ckBits) {
                    CHECK(frame.BitCount >= 1 && frame.BitCount <= TFrameBits::MaxLength);
                    CHECK(text.size() == (std::size_t{frame.BitCount} + 3) / 4);
                    for (const char c : text) {
                        CHECK((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
                    }
                }
                frames.Frames.push_back({frame.Line, frame.Kind, std::string(text),
                                         signal ? batch.Timing[i].Time : 0.0});
            }
            if (!more) {
                break;
            }
        }
    } catch (const TInputError& error) {
        frames.Failed = true;
        CHECK(*error.what() != 0);
    } catch (const std::bad_alloc&) {
        Fail("out of memory", __FILE__, __LINE__);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "exception: %s\n", error.what());
        Fail("an exception other than TInputError from the registry", __FILE__, __LINE__);
    }
    return frames;
}

// The frames a burst decoder makes of the edges read directly, as the registry writes them.
TFrames DecodeEdges(const TOutcome& direct) {
    TFrames frames;
    try {
        TBurstDecoder decoder(direct.Initial, direct.SamplePeriod);
        std::vector<TSignalFrame> decoded;
        decoder.Feed(direct.Edges, decoded);
        decoder.Finish(direct.End, decoded);
        for (const TSignalFrame& frame : decoded) {
            TFrameSeen seen{frame.Burst, TCaptureKind::ckCut, std::string(), frame.Time};
            if (frame.Outcome == TSignalOutcome::soComplete) {
                seen.Kind = TCaptureKind::ckBits;
                for (std::int32_t k = 0; 4 * k < frame.Bits.Length; ++k) {
                    const std::uint64_t word = frame.Bits.Words[static_cast<std::size_t>(k) / 16];
                    seen.Text.push_back("0123456789ABCDEF"[(word >> (60 - 4 * (k % 16))) & 0xF]);
                }
            } else if (frame.Outcome == TSignalOutcome::soInvalid) {
                seen.Kind = TCaptureKind::ckInvalid;
                seen.Text = std::to_string(frame.Clocks) + " clocks: more than a frame can hold";
            }
            frames.Frames.push_back(seen);
        }
    } catch (const TInputError&) {
        frames.Failed = true;
    }
    return frames;
}

void CheckRegistry(TReader reader, std::string_view input, std::size_t clock, std::size_t data,
                   const TOutcome& direct) {
    if ((reader == rdSigrok || reader == rdBinary) && direct.Failed && direct.Edges.empty()) {
        return; // refused at once: not worth the files the registry would read it from
    }
    const std::string path = PlaceInput(reader, input);
    // The registry reads files by name; standard input carries the text formats.
    const std::string_view bytes = path.empty() ? input : std::string_view();
    const std::string sessionBytes = reader == rdSigrok ? std::string(input) : std::string();
    const std::string_view detect = reader == rdSigrok ? std::string_view(sessionBytes) : bytes;
    const TFrames named = ReadThroughRegistry(detect, path, FormatNames[reader], clock, data);
    const TFrames recognised = ReadThroughRegistry(detect, path, "auto", clock, data);
    if (!recognised.Failed && recognised.Format == FormatNames[reader]) {
        CHECK(!named.Failed);
        CHECK(named.Frames == recognised.Frames);
    }
    // A fault of the input stops both ways of reading it.
    if (direct.Failed) {
        CHECK(named.Failed);
        return;
    }
    // The channels chosen by index are those of the direct read unless a channel is named
    // like an index (names come first) or both are one channel: then only the above holds.
    try {
        const TChannelChoice choice = ChooseChannels(direct.Names, std::to_string(clock), std::to_string(data));
        if (choice.Clock != clock || choice.Data != data) {
            return;
        }
    } catch (const TChannelError&) {
        CHECK(named.Failed);
        return;
    }
    const TFrames replay = DecodeEdges(direct);
    CHECK(named.Failed == replay.Failed);
    if (!named.Failed) {
        CHECK(named.Frames == replay.Frames);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const auto reader = static_cast<TReader>(data[0] % rdCount);
    const std::size_t clock = data[1] & 3;
    const std::size_t dataChannel = (data[1] >> 2) & 3;
    const std::string_view input(reinterpret_cast<const char*>(data + 2), size - 2);

    const TOutcome whole = ReadAll(reader, input, clock, dataChannel, 0);
    const std::uint32_t seed = static_cast<std::uint32_t>(size) * 2654435761U + data[1];
    const TOutcome pieces = ReadAll(reader, input, clock, dataChannel, seed | 1U);
    CHECK(whole.Failed == pieces.Failed);
    CHECK(whole.Error == pieces.Error);
    CHECK(whole.Edges.size() == pieces.Edges.size());
    for (std::size_t i = 0; i < whole.Edges.size(); ++i) {
        CHECK(SameEdge(whole.Edges[i], pieces.Edges[i]));
    }

    // Cut short: text at a line end, binary anywhere.
    std::size_t cut = seed % (input.size() + 1);
    if (reader == rdCsv || reader == rdVcd) {
        const std::size_t newline = input.substr(0, cut).rfind('\n');
        cut = newline == std::string_view::npos ? 0 : newline + 1;
    }
    const TOutcome shorter = ReadAll(reader, input.substr(0, cut), clock, dataChannel, 0);
    if (!whole.Failed || !shorter.Failed) {
        const std::size_t firm = shorter.Edges.empty() ? 0 : shorter.Edges.size() - 1;
        CHECK(firm <= whole.Edges.size());
        for (std::size_t i = 0; i < firm; ++i) {
            CHECK(SameEdge(shorter.Edges[i], whole.Edges[i]));
        }
    }

    const std::size_t channels = std::max<std::size_t>(whole.Names.size(), 1);
    CheckRegistry(reader, input, clock % channels, dataChannel % channels, whole);
    return 0;
}
