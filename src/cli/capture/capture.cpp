#include "capture/capture.h"

#include "capture/csvrecords.h"
#include "capture/inputformat.h"
#include "capture/linereader.h"
#include "capture/textutil.h"

#include <filesystem>
#include <system_error>

#include <array>
#include <string>
#include <utility>

std::string PrintableMessage(std::string_view message) {
    std::string shown;
    shown.reserve(message.size());
    for (const char c : message) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            shown += "\\x";
            shown += HexPairs[byte][0];
            shown += HexPairs[byte][1];
        } else {
            shown += c;
        }
    }
    return shown;
}

const std::vector<const TInputFormatInfo*>& InputFormats() {
    static const std::vector<const TInputFormatInfo*> formats = [] {
        std::vector<const TInputFormatInfo*> list;
        for (const TInputFormatModule* module : InputFormatModules()) {
            list.push_back(&module->Info);
        }
        return list;
    }();
    return formats;
}

namespace {

const TInputFormatModule* FindModule(std::string_view name) {
    for (const TInputFormatModule* module : InputFormatModules()) {
        if (module->Info.Name == name) {
            return module;
        }
    }
    return nullptr;
}

} // namespace

const TInputFormatInfo* FindInputFormat(std::string_view name) {
    const TInputFormatModule* module = FindModule(name);
    return module != nullptr ? &module->Info : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Recognising the format and opening a reader.

namespace {

constexpr std::size_t SampleBytes = DetectSampleBytes;
constexpr std::size_t SampleLines = DetectSampleLines;

// Reads the start of `source`: SampleLines non-blank lines, SampleBytes, or all of it. Lines
// are counted as DetectInputFormat counts them (after a byte order mark), so that what it
// sees does not depend on how many bytes each read returns.
std::string ReadSample(TByteSource& source, bool& complete) {
    std::string sample(SampleBytes, '\0');
    std::size_t size = 0;
    std::size_t counted = 0; // bytes looked at for line ends; 0 until the mark is known
    bool started = false;
    std::size_t lines = 0;
    bool lineHasText = false;
    complete = false;
    while (size < SampleBytes && lines < SampleLines) {
        const std::size_t n = source.Read(sample.data() + size, SampleBytes - size);
        complete = n == 0;
        size += n;
        if (!started && (size >= 3 || complete)) {
            started = true;
            counted = std::string_view(sample.data(), size).substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
        }
        for (; started && counted < size && lines < SampleLines; ++counted) {
            const char c = sample[counted];
            if (c == '\n') {
                lines += lineHasText ? 1 : 0;
                lineHasText = false;
            } else if (!IsBlankByte(c)) {
                lineHasText = true;
            }
        }
        // A live input that has gone quiet after a whole line is recognised from what came,
        // so that its first frames are not held back until more lines arrive.
        if (complete || (lines > 0 && !source.DataWaiting())) {
            break;
        }
    }
    sample.resize(size);
    return sample;
}

// True when the sample holds a byte no text export holds: NUL and the other control
// characters but TAB, LF, VT, FF and CR, DEL, and bytes that do not form UTF-8. A sequence cut
// by the end of an incomplete sample is not held against it.
bool LooksBinary(std::string_view sample, bool complete) {
    std::size_t i = 0;
    while (i < sample.size()) {
        const auto c = static_cast<unsigned char>(sample[i]);
        const bool control = (c < 0x20 && c != '\t' && c != '\n' && c != '\v' && c != '\f' && c != '\r') || c == 0x7F;
        if (control) {
            return true;
        }
        const std::size_t length = Utf8SequenceLength(sample, i);
        if (length == Utf8CutSequence) {
            return complete; // cut by the end of the sample: not held against an incomplete one
        }
        if (length == 0) {
            return true;
        }
        i += length;
    }
    return false;
}

std::string Shown(std::string_view text) {
    std::string shown(LongTextStart(text));
    if (shown.size() < text.size()) {
        shown += LongTextEllipsis;
    }
    return shown;
}

// The message when no format fits: one that lists the header's columns when the first line has
// several comma- or tab-separated fields, else one naming the formats tried; both say to give
// --input.
TInputError UnrecognisedError(const TDetectSample& sample, const TReaderOptions& options) {
    if (sample.HeaderFields.size() >= 2) {
        const std::string_view column = options.Column.empty() ? std::string_view("miso") : options.Column;
        return TInputError(sample.Lines.front().Line,
                           "the input looks like CSV, but its header has no column \"" + std::string(column) +
                               "\"; its columns are " + ListColumns(sample.HeaderFields) +
                               "; choose one with --column, or give --input");
    }
    std::vector<std::string_view> tried;
    for (const TInputFormatModule* module : InputFormatModules()) {
        tried.push_back(module->Info.Name);
    }
    const TSampleLine& line = sample.FirstData != nullptr ? *sample.FirstData : sample.Lines.front();
    return TInputError(line.Line, "the format of the input was not recognised from its first lines (\"" +
                                      Shown(line.Text) + "\"); tried " + ListInSentence(tried) +
                                      ": give --input with the format");
}

} // namespace

bool TDetectSample::HasColumn(std::string_view name) const { return FindColumn(HeaderFields, name) >= 0; }

void MakeDetectSample(std::string_view bytes, bool complete, TDetectSample& sample) {
    sample.Bytes = bytes;
    sample.Complete = complete;
    sample.Lines.clear();
    sample.HeaderFields.clear();
    sample.FirstData = nullptr;
    constexpr std::string_view Bom = "\xEF\xBB\xBF";
    std::string_view text = bytes;
    if (text.substr(0, Bom.size()) == Bom) {
        text.remove_prefix(Bom.size());
    }
    // Only the first DetectSampleLines non-blank lines count, however much more was read.
    {
        std::size_t lines = 0;
        bool lineHasText = false;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '\n') {
                lines += lineHasText ? 1 : 0;
                lineHasText = false;
                if (lines == DetectSampleLines) {
                    text = text.substr(0, i + 1);
                    complete = true; // what follows the cut is not looked at
                    break;
                }
            } else if (!IsBlankByte(c)) {
                lineHasText = true;
            }
        }
    }
    sample.Binary = LooksBinary(text, complete);
    if (sample.Binary) {
        return;
    }
    // The non-blank lines; a last line without its end only when the sample is the whole
    // input or holds no other line.
    std::uint64_t number = 0;
    std::size_t at = 0;
    while (at < text.size() && sample.Lines.size() < DetectSampleLines) {
        const std::size_t newline = text.find('\n', at);
        if (newline == std::string_view::npos && !complete && !sample.Lines.empty()) {
            break;
        }
        const std::size_t end = newline == std::string_view::npos ? text.size() : newline;
        ++number;
        const std::string_view line = TrimBlanks(text.substr(at, end - at));
        if (!line.empty()) {
            sample.Lines.push_back({line, number});
        }
        at = end + 1;
    }
    for (const TSampleLine& line : sample.Lines) {
        if (line.Text.front() != '#') {
            sample.FirstData = &line;
            break;
        }
    }
    if (!sample.Lines.empty()) {
        const std::string_view first = sample.Lines.front().Text;
        SplitCsvText(first, DetectCsvDelimiter(first), sample.HeaderFields, sample.Scratch);
    }
}

namespace {

// Whether the input's path names a folder.
bool PathIsFolder(const TReaderOptions& options) {
    std::error_code error;
    return !options.Path.empty() && options.Path != "-" &&
           std::filesystem::is_directory(PathFromUtf8(options.Path), error);
}

// The formats that read a folder, for a message.
std::string FolderFormats() {
    std::string names;
    for (const TInputFormatModule* module : InputFormatModules()) {
        if (module->ReadsFolders) {
            names += names.empty() ? "" : ", ";
            names += module->Info.Name;
        }
    }
    return names;
}

} // namespace

std::vector<std::string_view> UnusedReaderOptions(std::string_view format,
                                                  const TReaderOptions& options) {
    std::vector<std::string_view> unused;
    const TInputFormatModule* module = FindModule(format);
    if (module == nullptr) {
        return unused;
    }
    if (!options.Column.empty() && !module->ReadsColumn) {
        unused.push_back("--column");
    }
    if (options.FrameBytes != 0 && !module->CutsFrames) {
        unused.push_back("--frame-bytes");
    }
    if (!options.ClockChannel.empty() && !module->ReadsChannels) {
        unused.push_back("--clock");
    }
    if (!options.DataChannel.empty() && !module->ReadsChannels) {
        unused.push_back("--data");
    }
    return unused;
}

std::unique_ptr<TCaptureReader> OpenCaptureReader(TByteSource& source, const TReaderOptions& options) {
    const TInputFormatModule* module = nullptr;
    std::string sample;
    const bool recognise = options.Format == AutoFormatName;
    const bool folder = PathIsFolder(options);
    if (recognise) {
        bool complete = true;
        if (!folder) {
            sample = ReadSample(source, complete);
        }
        TDetectSample detect;
        MakeDetectSample(sample, complete, detect);
        detect.Folder = folder;
        for (const TInputFormatModule* candidate : InputFormatModules()) {
            const bool asked = !folder || candidate->ReadsFolders;
            if (asked && candidate->Recognise != nullptr && candidate->Recognise(detect, options)) {
                module = candidate;
                break;
            }
        }
        if (module == nullptr) {
            if (folder) {
                throw TInputError(0, "is a folder, and not one of a format that is read from a folder (" +
                                         FolderFormats() + ")");
            }
            throw UnrecognisedError(detect, options);
        }
    } else {
        module = FindModule(options.Format);
        if (module == nullptr) {
            throw TInputError(0, "unknown input format \"" + options.Format + "\"");
        }
        if (folder && !module->ReadsFolders) {
            throw TInputError(0, "is a folder; " + std::string(module->Info.Name) +
                                     " is read from a file (of the formats, " + FolderFormats() +
                                     " read folders)");
        }
    }
    if (module->CutsFrames && options.FrameBytes > MaxFrameBytes) {
        throw TInputError(0, "--frame-bytes " + std::to_string(options.FrameBytes) +
                                 " is more than a frame can hold; the most is " +
                                 std::to_string(MaxFrameBytes));
    }
    // The reader reads the input from its first byte: the sample first, then the rest.
    auto rest = std::make_unique<TPrefixedSource>(std::move(sample), source);
    return module->Open(std::move(rest), options, recognise);
}
