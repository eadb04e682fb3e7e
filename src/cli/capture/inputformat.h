// The registry of input formats: each format is one module (a file in formats/) holding its
// reader and the rule that recognises it; formats.cpp lists them, most specific first.
// Internal to corvane_capture.
#pragma once

#include "capture/capture.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// How much of an input its format is recognised from: this many non-blank lines (after a
// byte order mark), at most this many bytes.
inline constexpr std::size_t DetectSampleLines = 16;
inline constexpr std::size_t DetectSampleBytes = 64 * 1024;

// A non-blank line of the sample, without blanks at its ends.
struct TSampleLine {
    std::string_view Text;
    std::uint64_t Line = 0; // 1-based
};

// The start of an input as the recognition rules see it.
struct TDetectSample {
    // The bytes read, a byte order mark included; none for a folder.
    std::string_view Bytes;
    // The input is a folder (TReaderOptions::Path names one).
    bool Folder = false;
    // The sample is the whole input.
    bool Complete = false;
    // It holds a byte no text export holds: NUL and the other control characters but TAB, LF,
    // VT, FF and CR, DEL, or bytes that do not form UTF-8 (a sequence cut by the end of an
    // incomplete sample is not held against it).
    bool Binary = false;
    // Text inputs only: the non-blank lines (at most DetectSampleLines; a last line without
    // its end only when the sample is the whole input or holds no other line), and the
    // fields of the first one read as a CSV header row.
    std::vector<TSampleLine> Lines;
    std::vector<std::string_view> HeaderFields;
    // The first line that is not a '#' comment, or nullptr.
    const TSampleLine* FirstData = nullptr;

    // The header holds a column of this name (case-insensitive, as FindColumn compares).
    bool HasColumn(std::string_view name) const;

    // Storage of unquoted header fields.
    std::string Scratch;
};

// Reads the sample (see above) out of the first bytes of an input.
void MakeDetectSample(std::string_view bytes, bool complete, TDetectSample& sample);

struct TInputFormatModule {
    TInputFormatInfo Info;
    // True when an input that starts with `sample` is in this format; nullptr for a format
    // that is only read when named.
    bool (*Recognise)(const TDetectSample& sample, const TReaderOptions& options) = nullptr;
    // A reader for the input in `source` (from its first byte). `recognised`: the format was
    // recognised, not named, so that a message about a missing option can say so.
    std::unique_ptr<TCaptureReader> (*Open)(std::unique_ptr<TByteSource> source,
                                            const TReaderOptions& options, bool recognised) = nullptr;
    // --frame-bytes cuts this format's frames (and must fit MaxFrameBytes).
    bool CutsFrames = false;
    // The format's input may be a folder (of files, one per channel).
    bool ReadsFolders = false;
    // --column names the column (or annotation) that holds the frame.
    bool ReadsColumn = false;
    // --clock and --data choose the channels.
    bool ReadsChannels = false;
};

// The modules, most specific first: the order of InputFormats() and of recognition.
const std::vector<const TInputFormatModule*>& InputFormatModules();
