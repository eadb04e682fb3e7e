// Register traffic on the wires, for tests, sample captures and benchmarks: the control model's
// per-frame CDM and CDS bits (controlmodel.h) carried by position frames of a layout, run
// through the master/slave waveform model (waveformmodel.h), written in a signal format by the
// test writers (logicwriters.h), and read back the way corvane-decode reads a capture: the
// format recognised, the frames recovered by the burst decoder, the control bits taken from
// each batch and decoded into register accesses.
#pragma once

#include "capture/capture.h"
#include "capture/control/controlframes.h"
#include "controlmodel.h"
#include "framesupport.h"
#include "logicwriters.h"
#include "waveformmodel.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace controlwaveform {

// The position frames of a control stream: frame f a single-cycle frame of `layout` with an
// ACK of 3 to 5 bits, a position and status bits drawn from `seed`, frames[f]'s CDS bit after
// its start bit and its CDM bit after its last clock.
inline std::vector<TModelFrame> PositionFrames(const std::vector<TControlBits>& frames,
                                               const TFrameLayoutParams& layout, std::uint32_t seed) {
    std::mt19937_64 random(seed);
    std::vector<TModelFrame> script;
    script.reserve(frames.size());
    for (std::size_t f = 0; f < frames.size(); ++f) {
        TFrameContent content;
        content.AckLength = 3 + static_cast<int>(f % 3);
        content.AckOnes = 1;
        content.Count = random();
        content.Status = static_cast<std::uint8_t>(3 - (random() % 8 == 0 ? 1 : 0));
        content.Cds = frames[f].Cds == 1;
        content.TotalBits = 0; // the frame ends with its CRC
        script.push_back(ScriptFrame(BuildFrame(layout, content).Received, frames[f].Cdm == 1));
    }
    return script;
}

// The link of the register captures: MA at 1 MHz, a line delay of 250 ns, sampled at 8 MHz so
// that every edge lies on a sample and the formats that store samples hold it exactly.
inline TLinkParams ControlLink() {
    TLinkParams link;
    link.ClockHz = 1e6;
    link.LineDelay = 0.25e-6;
    link.SampleRate = 8e6;
    return link;
}

enum class TSignalFormat { sfSaleaeDigital, sfSaleaeBinary, sfSigrokSession, sfVcd };

// The name the capture library gives the format once recognised.
inline const char* FormatName(TSignalFormat format) {
    switch (format) {
    case TSignalFormat::sfSaleaeDigital: return "saleae-digital";
    case TSignalFormat::sfSaleaeBinary: return "saleae-binary";
    case TSignalFormat::sfSigrokSession: return "sigrok-session";
    case TSignalFormat::sfVcd: return "vcd";
    }
    return "?";
}

// GoogleTest prints a parameter with this (test names and messages), not as its bytes.
inline void PrintTo(TSignalFormat format, std::ostream* out) { *out << FormatName(format); }

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Writes `wave` in `format` into `folder` (which exists) as `stem` plus the format's usual
// extension (a folder of digital_N.bin for the binary export, in version 1 with 3 chunks);
// returns the path to read.
inline std::filesystem::path WriteCapture(const TWaveform& wave, TSignalFormat format,
                                          const std::filesystem::path& folder, const std::string& stem) {
    switch (format) {
    case TSignalFormat::sfSaleaeDigital: {
        const std::filesystem::path path = folder / (stem + ".csv");
        WriteBytes(path, WriteSaleaeDigitalCsv(wave));
        return path;
    }
    case TSignalFormat::sfSaleaeBinary: {
        const std::filesystem::path path = folder / (stem + "-binary");
        WriteSaleaeBinaryFolder(wave, path, 1, 3);
        return path;
    }
    case TSignalFormat::sfSigrokSession: {
        const std::filesystem::path path = folder / (stem + ".sr");
        WriteSigrokSession(wave, path);
        return path;
    }
    case TSignalFormat::sfVcd: {
        const std::filesystem::path path = folder / (stem + ".vcd");
        WriteBytes(path, WriteVcd(wave));
        return path;
    }
    }
    return {};
}

// A capture read back: the format recognised, every frame's control bits, and the accesses
// decoded from them.
struct TCaptureControl {
    std::string Format;
    std::vector<TControlBits> Bits;
    std::vector<TRegisterAccess> Accesses;
    std::uint64_t Cut = 0;       // frames of kind ckCut
    std::uint64_t Decoded = 0;   // ckBits frames whose position CRC held with `layout`
};

// Reads the capture at `path` (its format recognised, as --input auto does) in batches of
// `maxFrames`, takes each batch's control bits and feeds them to a control decoder.
inline TCaptureControl ReadCaptureControl(const std::filesystem::path& path, const TFrameLayoutParams& layout,
                                          std::uint32_t source = 0, std::size_t maxFrames = 256) {
    const std::string bytes = std::filesystem::is_directory(path) ? std::string() : ReadBytes(path);
    TMemoryByteSource input(bytes);
    TReaderOptions options;
    options.Path = path.string();
    if (std::filesystem::is_directory(path)) {
        // A binary export names its channels digital_N: MA and SLO by index, as --clock 0
        // --data 1 would choose them.
        options.ClockChannel = "0";
        options.DataChannel = "1";
    }
    const std::unique_ptr<TCaptureReader> reader = OpenCaptureReader(input, options);
    const TFrameLayout frameLayout(layout);
    TCaptureControl result;
    result.Format = std::string(reader->Format());
    TControlDecoder decoder;
    TCaptureBatch batch;
    std::vector<TControlBits> bits;
    for (;;) {
        batch.Clear();
        if (!reader->ReadBatch(batch, maxFrames)) {
            break;
        }
        bits.clear();
        if (!AppendControlBits(batch, frameLayout, source, bits)) {
            throw std::runtime_error("a batch of a signal capture without timing");
        }
        decoder.Feed(bits, result.Accesses);
        result.Bits.insert(result.Bits.end(), bits.begin(), bits.end());
        TFrameBits frameBits;
        for (const TCaptureFrame& frame : batch.Frames) {
            result.Cut += frame.Kind == TCaptureKind::ckCut;
            if (SignalFrameBits(batch, frame, frameBits)) {
                result.Decoded += DecodeFrameBits(frameLayout, frameBits).CrcOk;
            }
        }
    }
    decoder.Finish(result.Accesses);
    return result;
}

// ---- The sample capture with register traffic (tests/data/captures/signal-registers.*) ----

// The sample's slave: ID 0 of a bus of one, answering at lag 1, holding a serial number, a
// device ID and a manufacturer ID.
inline controlmodel::TBus RegisterSampleBus() {
    controlmodel::TBus bus;
    bus.FirstFrame = 1; // records count frames as the capture's bursts: from 1
    controlmodel::TSlave& slave = bus.AddSlave(0, 1);
    const std::uint8_t serial[4] = {0x00, 0x12, 0xD6, 0x87}; // 1234567
    for (int i = 0; i < 4; ++i) {
        slave.Registers[static_cast<std::size_t>(0x44 + i)] = serial[i];
    }
    const std::string device = "CV-R26";
    for (std::size_t i = 0; i < device.size(); ++i) {
        slave.Registers[0x78 + i] = static_cast<std::uint8_t>(device[i]);
    }
    slave.Registers[0x7E] = 'C';
    slave.Registers[0x7F] = 'V';
    return bus;
}

// The master's script: the serial number (4 addresses), device and manufacturer ID (8
// addresses, one sequential read), a write of 0x5A to register 0x10 and its read-back.
inline std::vector<controlmodel::TStep> RegisterSampleScript() {
    using namespace controlmodel;
    return {Read(0, 0x44, 4), Read(0, 0x78, 8), Write(0, 0x10, {0x5A}), Read(0, 0x10)};
}

// The sample's waveform: the script's frames with the window's layout (26-bit position, two
// status bits, CRC 0x43 sent inverted) on the register link. `run` receives the model's run.
inline TWaveform BuildRegisterSampleWaveform(controlmodel::TRun* run = nullptr) {
    controlmodel::TBus bus = RegisterSampleBus();
    bus.TrailingZeros = 4;
    const controlmodel::TRun made = bus.Run(RegisterSampleScript());
    const TModelCapture capture = RunLink(ControlLink(), PositionFrames(made.Frames, TFrameLayoutParams{}, 20240611));
    if (run != nullptr) {
        *run = made;
    }
    return capture.Wave;
}

} // namespace controlwaveform
