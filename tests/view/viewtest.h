// Shared helpers of the view's tests: stores of made-up frames and running programs.
#pragma once

#include "view/capturemodel.h"

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

// A store of `n` frames with random values (some frames not decoded) and random flags.
inline void FillRandomStore(TCaptureStore& store, std::size_t n, std::mt19937_64& random, bool withTime = false) {
    std::uniform_int_distribution<int> percent(0, 99);
    std::normal_distribution<double> step(0.0, 50.0);
    double value = 1000.0;
    double time = 0.25;
    for (std::size_t i = 0; i < n; ++i) {
        TStoredFrame f;
        f.Line = i + 1;
        value += step(random);
        if (percent(random) == 0) {
            value += 5000.0; // a jump now and then
        }
        f.Value = std::round(value);
        f.Outcome = percent(random) < 3 ? TFrameOutcome::foInvalidInput : TFrameOutcome::foDecoded;
        f.Source = f.Outcome == TFrameOutcome::foDecoded ? TFrameSource::fsHex : TFrameSource::fsInvalid;
        f.CrcOk = percent(random) >= 2;
        f.Error = percent(random) < 2;
        f.Warning = percent(random) < 2;
        if (withTime) {
            time += 1e-4 * (1 + percent(random) % 7); // uneven spacing
            f.Time = time;
        }
        store.Append(f, "C004C9BA71753000");
    }
}

// Runs a shell command and returns its standard output; `status` gets its exit status.
inline std::string RunCommand(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return out;
    }
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    const int raw = pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

inline std::string Quoted(const std::string& text) {
    std::string q = "'";
    for (const char c : text) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}
