// A session file of the sigrok suite (`.sr`, written by sigrok-cli and PulseView): a zip
// archive holding
//   version   the format's version, a number (2 today)
//   metadata  INI text; in its device section `samplerate` (plain Hz, or with a unit: "1 MHz",
//             "500 kHz"), `unitsize` (bytes per sample), `total probes`, `probeN=<name>` for
//             the probe in bit N-1 of a sample, `capturefile` (the data members' base name)
//   logic-1-1, logic-1-2, ... (or one logic-1): the samples, `unitsize` bytes each,
//             little-endian, one after the other across the members.
//
// How the reader takes it: the members are inflated in blocks and scanned for changes of the
// two chosen bits, never the whole capture in memory; the edge times are sample index /
// samplerate, the capture ends after its last sample. libzip needs a file it can seek in, so
// a pipe or standard input is refused with a TInputError that says so. A truncated or corrupt
// archive, a missing `metadata` or data member, a `unitsize` or probe index out of range, or a
// samplerate that is not one stop the input with a TInputError naming the member.
#pragma once

#include "capture/capture.h"
#include "capture/signal/logicsource.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

std::unique_ptr<TLogicSource> OpenSigrokSession(const std::filesystem::path& path);
// The same for a session held in memory (tests and fuzzing).
std::unique_ptr<TLogicSource> OpenSigrokSessionMemory(std::string data);

// Whether the first bytes of an input are a session: a zip whose first member is `version`,
// `metadata` or `mimetype`, as the suite writes them.
bool LooksLikeSigrokSession(std::string_view firstBytes);

// Appends to `changes` the offset i of every sample in samples[0, count) whose bits under
// `mask` differ from those of the sample before it (samples[i - 1], or `previous` for i = 0).
// One byte per sample; eight samples at a time, runs without a change skipped 32 at a time.
void ScanSampleChanges(const std::uint8_t* samples, std::size_t count, std::uint8_t previous, std::uint8_t mask,
                       std::vector<std::uint32_t>& changes);
