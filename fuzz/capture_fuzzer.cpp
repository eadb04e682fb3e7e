// libFuzzer harness for the capture readers of corvane-decode. The first fuzz bytes choose the
// format (or recognition), --frame-bytes, --column and how the input is cut into reads; the
// rest is the input. Every reader is run to the end twice: through one read of everything in
// large batches, and through reads of pseudo-random small sizes in small batches. Both must
// give the same frames (or the same TInputError), and every batch must keep the contract of
// capture.h. Any violation prints the case and aborts, which libFuzzer (or the replay main)
// reports as a finding.

#include "capture/capture.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct TFuzzCase {
    TReaderOptions Options;
    std::uint32_t Seed = 0;
    std::string_view Input;
};

const TFuzzCase* currentCase = nullptr;

void PrintCase() {
    if (currentCase == nullptr) {
        return;
    }
    const TFuzzCase& c = *currentCase;
    std::fprintf(stderr, "case: format %s, column \"%s\", frame bytes %u, seed %u, input %zu bytes:\n",
                 c.Options.Format.c_str(), c.Options.Column.c_str(),
                 static_cast<unsigned>(c.Options.FrameBytes), static_cast<unsigned>(c.Seed), c.Input.size());
    for (std::size_t i = 0; i < c.Input.size() && i < 512; ++i) {
        std::fprintf(stderr, "%02X%s", static_cast<unsigned char>(c.Input[i]), i % 32 == 31 ? "\n" : " ");
    }
    std::fprintf(stderr, "\n");
}

[[noreturn]] void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "\nCHECK FAILED: %s\n  at %s:%d\n", what, file, line);
    PrintCase();
    std::fflush(stderr);
    std::abort();
}

#define CHECK(condition)                                                                          \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            Fail(#condition, __FILE__, __LINE__);                                                 \
        }                                                                                         \
    } while (false)

// Hands the input out in reads of pseudo-random sizes from 1 to 64 bytes, and now and then a
// large one, as pipes and files do.
class TPiecesSource final : public TByteSource {
public:
    TPiecesSource(std::string_view data, std::uint32_t seed) : FData(data), FState(seed | 1U) {}
    std::size_t Read(char* buffer, std::size_t capacity) override {
        const std::uint32_t r = Next();
        std::size_t piece = r % 16 == 0 ? 4096 + r % 70000 : 1 + r % 64;
        piece = std::min({piece, capacity, FData.size() - FOffset});
        std::memcpy(buffer, FData.data() + FOffset, piece);
        FOffset += piece;
        return piece;
    }
    std::uint32_t Next() {
        // xorshift32: deterministic and enough to vary the cuts.
        FState ^= FState << 13;
        FState ^= FState >> 17;
        FState ^= FState << 5;
        return FState;
    }

private:
    std::string_view FData;
    std::size_t FOffset = 0;
    std::uint32_t FState;
};

struct TFrameCopy {
    std::uint64_t Line;
    TCaptureKind Kind;
    std::string Input;
    TFrameData Data;

    bool operator==(const TFrameCopy& other) const {
        return Line == other.Line && Kind == other.Kind && Input == other.Input &&
               Data.Value == other.Data.Value && Data.Status == other.Data.Status && Data.Crc == other.Data.Crc;
    }
};

struct TOutcome {
    bool Failed = false;
    std::uint64_t ErrorLine = 0;
    std::string Error;
    std::string Format = "auto";
    std::vector<TFrameCopy> Frames;
};

bool IsAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Reads everything from `source` in batches of `maxFrames`, checking each batch.
TOutcome ReadAll(TByteSource& source, const TFuzzCase& c, std::size_t maxFrames, std::uint32_t seed) {
    TOutcome outcome;
    const std::string_view input = c.Input;
    std::size_t lineEnds = 0;
    for (const char ch : input) {
        lineEnds += ch == '\n' ? 1 : 0;
    }
    try {
        const std::unique_ptr<TCaptureReader> reader = OpenCaptureReader(source, c.Options);
        CHECK(reader != nullptr);
        outcome.Format = reader->Format();
        CHECK(outcome.Format != "auto");
        CHECK(c.Options.Format == "auto" || outcome.Format == c.Options.Format);
        const bool binary = outcome.Format == "binary";
        // The most lines (or binary frames) the input holds.
        const std::uint64_t mostLines =
            binary ? input.size() / std::max<std::uint32_t>(c.Options.FrameBytes, 1) + 1 : lineEnds + 1;

        TCaptureBatch batch;
        std::uint64_t lastLine = 0;
        std::uint64_t lastConsumed = 0;
        std::uint32_t r = seed;
        for (int calls = 0;; ++calls) {
            // Sometimes keep the frames of the last batch: a batch is appended to.
            r = r * 1103515245U + 12345U;
            if ((r >> 16) % 4 != 0) {
                batch.Clear();
            }
            const std::size_t framesBefore = batch.Frames.size();
            const std::size_t textBefore = batch.Text.size();
            const std::string textKept = batch.Text;
            const bool more = reader->ReadBatch(batch, maxFrames);
            const std::size_t added = batch.Frames.size() - framesBefore;
            CHECK(more == (added > 0));
            CHECK(added <= maxFrames);
            CHECK(batch.Text.size() >= textBefore);
            CHECK(batch.Text.compare(0, textBefore, textKept) == 0);
            CHECK(batch.Text.size() - textBefore <= MaxBatchTextBytes + MaxLineBytes + 8);
            CHECK(batch.BytesConsumed >= lastConsumed);
            CHECK(batch.BytesConsumed <= input.size());
            lastConsumed = batch.BytesConsumed;
            for (std::size_t i = framesBefore; i < batch.Frames.size(); ++i) {
                const TCaptureFrame& frame = batch.Frames[i];
                CHECK(frame.InputOffset >= textBefore);
                CHECK(std::size_t{frame.InputOffset} + frame.InputSize <= batch.Text.size());
                CHECK(frame.InputSize <= MaxLineBytes + 3);
                CHECK(frame.Line >= 1);
                CHECK(frame.Line >= lastLine);
                CHECK(frame.Line <= mostLines);
                lastLine = frame.Line;
                const std::string_view text = batch.Input(frame);
                if (frame.Kind == TCaptureKind::ckHex) {
                    for (const char ch : text) {
                        CHECK(IsAsciiAlnum(ch));
                    }
                    if (binary) {
                        CHECK(text.size() == 2 * std::size_t{c.Options.FrameBytes});
                    }
                } else if (frame.Kind == TCaptureKind::ckBissFields) {
                    CHECK(outcome.Format == "saleae-biss");
                } else {
                    CHECK(frame.Kind == TCaptureKind::ckInvalid);
                }
                outcome.Frames.push_back({frame.Line, frame.Kind, std::string(text),
                                          frame.Kind == TCaptureKind::ckBissFields ? frame.Data : TFrameData{}});
            }
            if (!more) {
                // The end stays the end.
                TCaptureBatch after;
                CHECK(!reader->ReadBatch(after, maxFrames));
                CHECK(after.Frames.empty());
                break;
            }
            CHECK(calls < 10000000);
        }
        CHECK(lastConsumed == input.size());
    } catch (const TInputError& error) {
        outcome.Failed = true;
        outcome.ErrorLine = error.Line();
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

// The formats by the first byte of a case; new formats are added at the end, so that the seed
// corpus keeps its meaning.
const char* const FormatNames[] = {"auto", "hex", "csv", "saleae-table", "saleae-spi",
                                   "saleae-biss", "sigrok", "binary"};

const char* const Columns[] = {"", "miso", "MOSI", "data", "name", "Packet ID", " x y "};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    TFuzzCase c;
    c.Options.Format = FormatNames[data[0] % (sizeof FormatNames / sizeof FormatNames[0])];
    // Mostly small frame sizes, at times none or one too large.
    const std::uint8_t frameByte = data[1];
    c.Options.FrameBytes = frameByte >= 250 ? MaxFrameBytes + (frameByte - 249U) % 2 : frameByte % 9;
    c.Options.Column = Columns[data[2] % (sizeof Columns / sizeof Columns[0])];
    c.Seed = data[3];
    c.Input = std::string_view(reinterpret_cast<const char*>(data + 4), size - 4);
    currentCase = &c;

    TMemoryByteSource whole(c.Input);
    const TOutcome a = ReadAll(whole, c, 100000, c.Seed);
    TPiecesSource pieces(c.Input, c.Seed * 2654435761U + 1U);
    const TOutcome b = ReadAll(pieces, c, 1 + c.Seed % 7, c.Seed + 1);

    CHECK(a.Failed == b.Failed);
    if (a.Failed) {
        // Frames read before a fault depend on the batch sizes; the fault does not.
        CHECK(a.ErrorLine == b.ErrorLine);
        CHECK(a.Error == b.Error);
    } else {
        CHECK(a.Format == b.Format);
        CHECK(a.Frames.size() == b.Frames.size());
        for (std::size_t i = 0; i < a.Frames.size(); ++i) {
            CHECK(a.Frames[i] == b.Frames[i]);
        }
    }
    currentCase = nullptr;
    return 0;
}
