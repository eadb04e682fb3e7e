// Writes the sample captures with register traffic (tests/data/captures/signal-registers.sr and
// signal-registers.vcd): the master of controlwaveform.h reading a slave's serial number, device
// ID and manufacturer ID and writing a register, on MA and SLO. Deterministic: the same files
// every time.
#include "controlwaveform.h"

#include <cstdio>
#include <exception>
#include <filesystem>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_register_samples <captures dir>\n");
        return 2;
    }
    try {
        const std::filesystem::path captures = argv[1];
        const TWaveform wave = controlwaveform::BuildRegisterSampleWaveform();
        controlwaveform::WriteBytes(captures / "signal-registers.vcd", WriteVcd(wave));
        WriteSigrokSession(wave, captures / "signal-registers.sr");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_register_samples: %s\n", error.what());
        return 1;
    }
    return 0;
}
