// libFuzzer harness for the signal readers (Saleae digital CSV and binary exports, sigrok
// sessions, VCD). The first fuzz byte chooses the reader, the second the two channels; the
// rest is the input (for the binary export: a 4-byte little-endian length of the first
// channel's file, that file, then the second channel's file). Each input is read to its end
// whole, in pieces of pseudo-random sizes, and cut short. Properties: no crash or sanitizer
// report, only TInputError as a failure, edges in time order with only the level and gap bits,
// the same edges and error whatever the pieces, and an input cut at a line end (text) or
// anywhere (binary, zip) giving the full input's edges up to a point, or a TInputError. The
// last edge of a cut input may differ: the changes at its time may have been cut in two.

#include "signal/saleaebinary.h"
#include "signal/saleaedigital.h"
#include "signal/sigroksession.h"
#include "signal/vcd.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

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
    return 0;
}
