// What the signal readers share: the choice of the two channels, numbers read from text, and
// a file read as a TByteSource. Internal to the capture library.
#pragma once

#include "capture/capture.h"
#include "capture/signal/logicsource.h"

#include <charconv>
#include <exception>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace NSignal {

// Throws TInputError unless `clock` and `data` both name a channel of `names`.
inline void CheckChannelChoice(const std::vector<std::string>& names, std::size_t clock, std::size_t data) {
    for (const std::size_t index : {clock, data}) {
        if (index >= names.size()) {
            throw TInputError(0, "there is no channel " + std::to_string(index) + ": the capture has " +
                                     std::to_string(names.size()) + " (0 to " +
                                     std::to_string(names.empty() ? 0 : names.size() - 1) + ")");
        }
    }
}

// A decimal floating-point number filling all of `text` (C locale, as the exports write it).
inline bool ParseDouble(std::string_view text, double& value) {
    if (text.empty()) {
        return false;
    }
    const char* const end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::general);
    return ec == std::errc() && ptr == end;
}

// A decimal unsigned integer filling all of `text`.
inline bool ParseUnsigned(std::string_view text, std::uint64_t& value) {
    if (text.empty()) {
        return false;
    }
    const char* const end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, 10);
    return ec == std::errc() && ptr == end;
}

// Delivers the edges read before a TInputError first: a fault met after some edges were
// appended is kept and thrown by the next Read (and every one after it).
class TDeferredError {
public:
    template <typename TFill>
    bool Run(std::vector<TLogicEdge>& edges, TFill&& fill) {
        edges.clear();
        if (FError) {
            std::rethrow_exception(FError);
        }
        try {
            fill();
        } catch (const TInputError&) {
            FError = std::current_exception();
            if (edges.empty()) {
                throw;
            }
        }
        return !edges.empty();
    }

private:
    std::exception_ptr FError;
};

// A file read from start to end; a failure to read is a TInputError naming `what`.
class TFileByteSource final : public TByteSource {
public:
    TFileByteSource(const std::filesystem::path& path, std::string what)
        : FFile(path, std::ios::binary), FWhat(std::move(what)) {
        if (!FFile) {
            throw TInputError(0, FWhat + ": cannot be opened");
        }
    }
    std::size_t Read(char* buffer, std::size_t capacity) override {
        FFile.read(buffer, static_cast<std::streamsize>(capacity));
        const std::size_t n = static_cast<std::size_t>(FFile.gcount());
        if (n == 0 && FFile.bad()) {
            throw TInputError(0, FWhat + ": cannot be read");
        }
        return n;
    }

private:
    std::ifstream FFile;
    std::string FWhat;
};

} // namespace NSignal
