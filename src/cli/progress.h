// The progress line on standard error: frames so far, frames per second and the share of the
// file read, redrawn in place a few times a second once a run has taken over a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

class TProgress {
public:
    // A disabled progress line writes nothing at all.
    explicit TProgress(bool enabled);

    // After a batch: `frames` decoded so far in the run, `bytes` read of the input `name`
    // whose size is `size` (0 when unknown: no percentage then).
    void Update(std::string_view name, std::uint64_t frames, std::uint64_t bytes,
                std::uint64_t size);
    // Removes the line, if one is shown, before other output to standard error.
    void Clear();

    // The line's text: "frames.txt: 1234567 frames, 9.9 M frames/s, 45 %".
    static std::string Format(std::string_view name, std::uint64_t frames, double seconds,
                              std::uint64_t bytes, std::uint64_t size);

private:
    bool FEnabled;
    std::chrono::steady_clock::time_point FStart;
    std::chrono::steady_clock::time_point FLast;
    std::size_t FShownWidth = 0;
};
