// A capture of a few digital channels as the tests build and write it: each channel's name,
// its level at the start and the times at which it toggles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TWaveform {
    std::vector<std::string> Names;
    std::vector<std::uint8_t> Initial;        // 0 or 1 per channel
    std::vector<std::vector<double>> Toggles; // per channel, increasing, seconds
    double End = 0.0;                         // the capture's end, seconds
    double SampleRate = 0.0;                  // samples per second; 0 for none
};
