// Writers of logic-analyzer captures for the tests: a neutral waveform written in each signal
// format from the formats' own descriptions (not from the readers), so that reading one back
// checks the reader against the format.
#pragma once

#include "waveform.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The level of channel `channel` just after `time` (toggles at `time` applied).
std::uint8_t LevelAt(const TWaveform& waveform, std::size_t channel, double time);

// Logic 2's digital CSV export: `Time [s],<names>`, a row at the start and at every change of
// any channel, times with 9 decimals, and a last row of X at the end.
std::string WriteSaleaeDigitalCsv(const TWaveform& waveform);

// Logic 2's binary export of one channel (digital_N.bin): version 0, or version 1 with the
// capture cut into `chunks` contiguous chunks.
std::string WriteSaleaeBinary(const TWaveform& waveform, std::size_t channel, int version, std::size_t chunks = 1);
// Every channel's file, digital_N.bin, into `folder` (created).
void WriteSaleaeBinaryFolder(const TWaveform& waveform, const std::filesystem::path& folder, int version,
                             std::size_t chunks = 1);

// A sigrok session (zip written with libzip) sampled at waveform.SampleRate: `unitSize` bytes
// a sample, the samples cut into members logic-1-1, logic-1-2, ... of `samplesPerMember`
// each (0: one member). The sample count is End * SampleRate, rounded.
void WriteSigrokSession(const TWaveform& waveform, const std::filesystem::path& path, std::size_t unitSize = 1,
                        std::size_t samplesPerMember = 0);

// A Value Change Dump: the coarsest timescale (1, 10 or 100 of s ... fs) in which every time is
// a whole number, one `$var wire 1` per channel, the initial values at #0 in $dumpvars, the
// changes at each time on one line, and the end as a last time.
std::string WriteVcd(const TWaveform& waveform);
