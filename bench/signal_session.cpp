// A large sigrok session for the signal throughput figures, and its reading through the capture
// library as corvane-decode opens it (bench/signal-throughput.sh runs both):
//
//   signal_session make FILE [SAMPLES]   writes a session of SAMPLES 1-byte samples (default
//                                        500 million) without holding them: each data member
//                                        is deflated from a callback that makes the samples
//                                        frame by frame
//   signal_session decode FILE [--check] reads FILE through OpenCaptureReader (format "auto")
//                                        and prints the frames it gave; --check also decodes
//                                        each with the window's layout and counts CRC errors
//
// The link: a BiSS-C master clocking 64-bit frames of the window's layout at 2.5 MHz, one every
// 50 us, sampled at 25 MHz (10 samples a clock period); MA in bit 0, SLO in bit 1. The slave
// answers 4 samples (160 ns) after each rising edge, with an ACK of 4 bits, the position
// climbing one count a frame; every eighth frame the master sends CDM 1.

#include "capture/capture.h"
#include "framesupport.h"

#include <zip.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr double SampleRate = 25e6;
constexpr std::size_t SamplesPerPeriod = 10;
constexpr std::size_t FrameSamples = 1250;     // 50 us
constexpr std::size_t FirstFall = 100;         // idle before f0 within a frame's slot
constexpr std::size_t Delay = 4;               // line delay, samples
constexpr std::size_t TimeoutSamples = 80;     // the slave's timeout and the CDM hold
constexpr int Clocks = 64;
constexpr std::uint64_t MemberSamples = 64ULL << 20; // samples per logic-1-N member

// The samples of frame `index`: MA in bit 0, SLO in bit 1.
void MakeFrame(std::uint64_t index, std::uint8_t* out) {
    TFrameContent content;
    content.AckLength = 4;
    content.AckOnes = 1;
    content.Count = 0x0123456 + index;
    content.Cds = (index & 3) == 1;
    content.TotalBits = Clocks;
    const TBuiltFrame frame = BuildFrame(TFrameLayoutParams{}, content);
    const bool cdm = index % 8 == 0;
    std::vector<std::uint8_t> ma(FrameSamples, 1);
    std::vector<std::uint8_t> slo(FrameSamples, 1);
    for (int k = 0; k < Clocks; ++k) {
        const std::size_t fall = FirstFall + static_cast<std::size_t>(k) * SamplesPerPeriod;
        std::memset(ma.data() + fall, 0, SamplesPerPeriod / 2);
    }
    const std::size_t lastRise = FirstFall + (Clocks - 1) * SamplesPerPeriod + SamplesPerPeriod / 2;
    if (cdm) {
        std::memset(ma.data() + lastRise + SamplesPerPeriod / 2, 0, TimeoutSamples);
    }
    // Bit j from r(j-1) + d; low after the last bit until the timeout (or the CDM hold) ends.
    for (int j = 1; j <= Clocks; ++j) {
        const std::size_t from = FirstFall + static_cast<std::size_t>(j - 1) * SamplesPerPeriod + SamplesPerPeriod / 2 + Delay;
        const std::size_t to = j < Clocks ? from + SamplesPerPeriod
                                          : lastRise + (cdm ? SamplesPerPeriod / 2 : 0) + TimeoutSamples + Delay;
        const bool level = j < Clocks && frame.Received.Bits[static_cast<std::size_t>(j)];
        std::memset(slo.data() + from, level ? 1 : 0, to - from);
    }
    for (std::size_t i = 0; i < FrameSamples; ++i) {
        out[i] = static_cast<std::uint8_t>(ma[i] | (slo[i] << 1));
    }
}

// One data member's samples, made on demand for libzip.
struct TMemberSource {
    std::uint64_t First = 0; // sample index of the member's first sample
    std::uint64_t Count = 0;
    std::uint64_t Done = 0;
    std::uint64_t FrameIndex = ~0ULL;
    std::uint8_t Frame[FrameSamples];
    zip_error_t Error;
};

zip_int64_t MemberCallback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto* member = static_cast<TMemberSource*>(state);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        member->Done = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        auto* out = static_cast<std::uint8_t*>(data);
        const std::uint64_t n = std::min<std::uint64_t>(length, member->Count - member->Done);
        for (std::uint64_t written = 0; written < n;) {
            const std::uint64_t sample = member->First + member->Done + written;
            const std::uint64_t frame = sample / FrameSamples;
            if (frame != member->FrameIndex) {
                MakeFrame(frame, member->Frame);
                member->FrameIndex = frame;
            }
            const std::size_t at = static_cast<std::size_t>(sample % FrameSamples);
            const std::size_t run = static_cast<std::size_t>(std::min<std::uint64_t>(FrameSamples - at, n - written));
            std::memcpy(out + written, member->Frame + at, run);
            written += run;
        }
        member->Done += n;
        return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        auto* stat = static_cast<zip_stat_t*>(data);
        zip_stat_init(stat);
        stat->size = member->Count;
        stat->valid |= ZIP_STAT_SIZE;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&member->Error, data, length);
    case ZIP_SOURCE_FREE:
        zip_error_fini(&member->Error);
        delete member;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        zip_error_set(&member->Error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

int Make(const char* path, std::uint64_t samples) {
    std::remove(path);
    int code = 0;
    zip_t* archive = zip_open(path, ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (archive == nullptr) {
        std::fprintf(stderr, "cannot create %s\n", path);
        return 1;
    }
    static const std::string version = "2";
    static const std::string metadata =
        "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\ntotal probes=2\n"
        "samplerate=25 MHz\ntotal analog=0\nprobe1=MA\nprobe2=SLO\nunitsize=1\n";
    const auto addBuffer = [&](const char* name, const std::string& text) {
        zip_source_t* source = zip_source_buffer(archive, text.data(), text.size(), 0);
        return source != nullptr && zip_file_add(archive, name, source, ZIP_FL_OVERWRITE) >= 0;
    };
    bool ok = addBuffer("version", version) && addBuffer("metadata", metadata);
    for (std::uint64_t first = 0, number = 1; ok && first < samples; first += MemberSamples, ++number) {
        auto* member = new TMemberSource;
        member->First = first;
        member->Count = std::min(MemberSamples, samples - first);
        zip_error_init(&member->Error);
        zip_source_t* source = zip_source_function(archive, MemberCallback, member);
        if (source == nullptr) {
            delete member;
            ok = false;
            break;
        }
        const std::string name = "logic-1-" + std::to_string(number);
        if (zip_file_add(archive, name.c_str(), source, ZIP_FL_OVERWRITE) < 0) {
            zip_source_free(source);
            ok = false;
        }
    }
    if (!ok || zip_close(archive) != 0) {
        std::fprintf(stderr, "cannot write %s: %s\n", path, zip_strerror(archive));
        zip_discard(archive);
        return 1;
    }
    std::printf("wrote %s: %llu samples, %llu frames\n", path, static_cast<unsigned long long>(samples),
                static_cast<unsigned long long>(samples / FrameSamples));
    return 0;
}

// The file's first bytes for recognition; the session reader opens the file by its name.
class TFileSource final : public TByteSource {
public:
    explicit TFileSource(const char* path) : FFile(std::fopen(path, "rb")) {
        if (FFile == nullptr) {
            throw TInputError(0, std::string("cannot open ") + path);
        }
    }
    ~TFileSource() override { std::fclose(FFile); }
    TFileSource(const TFileSource&) = delete;
    TFileSource& operator=(const TFileSource&) = delete;
    std::size_t Read(char* buffer, std::size_t capacity) override { return std::fread(buffer, 1, capacity, FFile); }

private:
    std::FILE* FFile;
};

int Decode(const char* path, bool check) {
    const auto start = std::chrono::steady_clock::now();
    TFileSource file(path);
    TReaderOptions options;
    options.Path = path;
    const std::unique_ptr<TCaptureReader> reader = OpenCaptureReader(file, options);
    const TFrameLayout layout;
    std::uint64_t bits = 0, cut = 0, invalid = 0, cdm = 0, crcErrors = 0;
    TCaptureBatch batch;
    for (;;) {
        batch.Clear();
        if (!reader->ReadBatch(batch, 4096)) {
            break;
        }
        for (std::size_t i = 0; i < batch.Frames.size(); ++i) {
            const TCaptureFrame& frame = batch.Frames[i];
            switch (frame.Kind) {
            case TCaptureKind::ckBits:
                ++bits;
                cdm += batch.Timing[i].Cdm;
                if (check) {
                    TFrameBits frameBits;
                    if (!ParseFrameHex(batch.Input(frame), frameBits) || !DecodeFrameBits(layout, frameBits).CrcOk) {
                        ++crcErrors;
                    }
                }
                break;
            case TCaptureKind::ckCut:
                ++cut;
                break;
            default:
                ++invalid;
                break;
            }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const TSignalStats* stats = reader->SignalStats();
    std::printf("%s: %s, %llu frames with bits (%llu with CDM 1), %llu cut, %llu invalid, %llu glitches, "
                "%.3f s of signal read in %.3f s\n",
                path, std::string(reader->Format()).c_str(), static_cast<unsigned long long>(bits),
                static_cast<unsigned long long>(cdm), static_cast<unsigned long long>(cut),
                static_cast<unsigned long long>(invalid),
                static_cast<unsigned long long>(stats != nullptr ? stats->Glitches : 0),
                stats != nullptr ? stats->Duration : 0.0, seconds);
    if (check) {
        std::printf("  CRC errors with the window's layout: %llu\n", static_cast<unsigned long long>(crcErrors));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc >= 3 ? argv[1] : "";
    try {
        if (mode == "make" && argc <= 4) {
            return Make(argv[2], argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 500000000ULL);
        }
        if (mode == "decode" && argc <= 4) {
            return Decode(argv[2], argc == 4 && std::string_view(argv[3]) == "--check");
        }
    } catch (const TInputError& error) {
        std::fprintf(stderr, "%s: %s\n", argv[2], error.what());
        return 2;
    }
    std::fprintf(stderr, "usage: signal_session make FILE [SAMPLES] | decode FILE [--check]\n");
    return 2;
}
