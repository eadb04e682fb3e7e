#include "cli/progress.h"

#include "cli/platform.h"
#include "cli/textout.h"

#include <algorithm>

namespace {

using TClock = std::chrono::steady_clock;

constexpr auto ShowAfter = std::chrono::seconds(1);
constexpr auto RedrawEvery = std::chrono::milliseconds(250);

} // namespace

TProgress::TProgress(bool enabled) : FEnabled(enabled), FStart(TClock::now()), FLast(FStart) {}

std::string TProgress::Format(std::string_view name, std::uint64_t frames, double seconds,
                              std::uint64_t bytes, std::uint64_t size) {
    std::string line = TableText(name) + ": " + std::to_string(frames) + " frames";
    if (seconds > 0) {
        char number[MaxNumberChars];
        const double rate = static_cast<double>(frames) / seconds;
        const bool millions = rate >= 1e6;
        char* end = WriteFixedDouble(number, millions ? rate / 1e6 : rate, millions ? 1 : 0);
        line += ", ";
        line.append(number, end);
        line += millions ? " M frames/s" : " frames/s";
    }
    if (size > 0) {
        line += ", " + std::to_string(std::min<std::uint64_t>(100, bytes * 100 / size)) + " %";
    }
    return line;
}

void TProgress::Update(std::string_view name, std::uint64_t frames, std::uint64_t bytes,
                       std::uint64_t size) {
    if (!FEnabled) {
        return;
    }
    const TClock::time_point now = TClock::now();
    if (now - FStart < ShowAfter || now - FLast < RedrawEvery) {
        return;
    }
    FLast = now;
    const double seconds = std::chrono::duration<double>(now - FStart).count();
    std::string line = Format(name, frames, seconds, bytes, size);
    const std::size_t width = TableTextWidth(line);
    // Blanks over what is left of a longer previous line.
    line.append(FShownWidth > width ? FShownWidth - width : 0, ' ');
    FShownWidth = width;
    WriteStandardError("\r" + line);
}

void TProgress::Clear() {
    if (FShownWidth > 0) {
        std::string blank(FShownWidth + 2, ' ');
        blank.front() = '\r';
        blank.back() = '\r';
        WriteStandardError(blank);
        FShownWidth = 0;
    }
}
