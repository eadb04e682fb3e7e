#include "cli/program.h"

#include "cli/options.h"
#include "cli/pipeline.h"
#include "cli/platform.h"
#include "cli/progress.h"
#include "cli/records.h"
#include "cli/registersink.h"
#include "cli/scan.h"
#include "cli/summary.h"

#include "capture/signal/saleaebinary.h"
#include "capture/textutil.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace {

constexpr std::string_view Program = "corvane-decode: ";

// Frames per batch: large for a file, small for a pipe so that records of a live capture
// come out soon, one at a time for a terminal where someone types frames.
std::size_t BatchFramesFor(const TInputFile& file) {
    if (file.IsRegular()) {
        return 4096;
    }
    return file.IsTerminal() ? 1 : 256;
}

// The widest "name:line" of a table's source column: the longest name and as many digits
// as the largest file has bytes (every line is at least one byte), 6 for a pipe.
std::size_t SourceWidth(const std::vector<std::string>& names) {
    std::size_t width = 0;
    for (const std::string& name : names) {
        std::string error;
        std::uint64_t size = 0;
        if (!TInputFile::Check(name, size, error) || size == 0) {
            size = 999999; // a pipe, a device or an empty file: six digits
        }
        const std::size_t digits = std::to_string(std::max<std::uint64_t>(size, 1)).size();
        width = std::max(width, TableTextWidth(name) + 1 + digits);
    }
    return width;
}

struct TOutputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void WriteOutput(std::string_view text) {
    std::string error;
    if (!text.empty() && !WriteStandardOutput(text, error)) {
        throw TOutputError(error);
    }
}

void WriteMessage(std::string_view message) {
    WriteStandardError(std::string(Program) + std::string(message) + "\n");
}

// Standard output and standard error for the sinks.
class TStandardSinkOutput final : public TSinkOutput {
public:
    void Write(std::string_view text) override { WriteOutput(text); }
    void Message(std::string_view text) override { WriteMessage(text); }
};

// Runs that write a record as they go (of a frame, of a register access), as a pipe or a
// file takes them best in CSV, not runs that write what they found at the end.
bool RecordsMode(TRunMode mode) { return mode == TRunMode::rmRecords || mode == TRunMode::rmRegisters; }

// What a run will do, decided before any input is read.
struct TRunPlan {
    std::vector<std::string> Names; // the inputs; "-" for standard input
    TOutputFormat Format = TOutputFormat::ofCsv;
    std::unique_ptr<TOutputSink> Sink;
    bool ProgressShown = false;
    // The formats whose unused options were already pointed out.
    std::vector<std::string> FormatsNoted;
};

// Says which of the reader options given the input's format does not read (a --clock given
// for a hex capture, say), once per format in a run: the run goes on without them, but the
// user may have meant another input or format.
void NoteUnusedOptions(const std::string& name, std::string_view format,
                       const TReaderOptions& options, TRunPlan& plan, TProgress& progress) {
    const std::vector<std::string_view> unused = UnusedReaderOptions(format, options);
    if (unused.empty() || std::find(plan.FormatsNoted.begin(), plan.FormatsNoted.end(), format) !=
                              plan.FormatsNoted.end()) {
        return;
    }
    plan.FormatsNoted.emplace_back(format);
    progress.Clear();
    WriteMessage(name + ": note: " + ListInSentence(unused) + (unused.size() == 1 ? " is" : " are") +
                 " not used: the input is read as " + std::string(format));
}

// The inputs as given, less the files of a binary export named before: a shell's
// `export/digital_*.bin` gives every channel file, and each of them reads the whole export,
// so that the capture would be decoded once per file.
std::vector<std::string> DistinctInputs(const std::vector<std::string>& names,
                                        const TReaderOptions& reader) {
    if (reader.Format != AutoFormatName && reader.Format != "saleae-binary") {
        return names;
    }
    std::vector<std::string> kept;
    std::vector<std::filesystem::path> exports;
    const auto sameFolder = [](const std::filesystem::path& a, const std::filesystem::path& b) {
        std::error_code error;
        return std::filesystem::equivalent(a, b, error);
    };
    for (const std::string& name : names) {
        const std::filesystem::path folder =
            name == "-" ? std::filesystem::path() : SaleaeBinaryExportFolder(PathFromUtf8(name));
        if (!folder.empty()) {
            const bool seen = std::any_of(exports.begin(), exports.end(),
                                          [&](const auto& other) { return sameFolder(folder, other); });
            if (seen) {
                continue;
            }
            exports.push_back(folder);
        }
        kept.push_back(name);
    }
    return kept;
}

// Plans the run: the inputs (every one must open before anything is read, so that a mistyped
// name stops the run at once instead of after the files before it), the output format and
// the sink. Returns 0, or the exit status of a run that must not start.
int PlanRun(const TProgramOptions& options, TRunPlan& plan) {
    plan.Names = options.Files;
    if (plan.Names.empty()) {
        plan.Names.push_back("-");
    }
    for (const std::string& name : plan.Names) {
        std::string error;
        std::uint64_t size = 0;
        if (!TInputFile::Check(name, size, error)) {
            WriteMessage(name + ": cannot open: " + error);
            return 2;
        }
    }
    plan.Names = DistinctInputs(plan.Names, options.Reader);
    plan.Format = options.Format;
    if (!options.FormatGiven) {
        const bool table = !RecordsMode(options.Mode) || IsTerminal(TStandardStream::ssOutput);
        plan.Format = table ? TOutputFormat::ofTable : TOutputFormat::ofCsv;
    }
    switch (options.Mode) {
    case TRunMode::rmRecords:
        plan.Sink = std::make_unique<TRecordSink>(
            plan.Format, options.Layout, options.Scale,
            plan.Format == TOutputFormat::ofTable ? SourceWidth(plan.Names) : 0);
        break;
    case TRunMode::rmSummary:
        plan.Sink = std::make_unique<TSummarySink>(plan.Format, options.Layout, options.Scale);
        break;
    case TRunMode::rmScan:
        plan.Sink = std::make_unique<TScanSink>(
            plan.Format, options.CrcGiven ? options.Layout.CrcPolynomial : 0, options.Layout.CrcStart);
        break;
    case TRunMode::rmRegisters:
    case TRunMode::rmRegisterMap:
        plan.Sink = std::make_unique<TRegisterSink>(plan.Format, options.Layout,
                                                    options.Mode == TRunMode::rmRegisterMap, plan.Names);
        break;
    }
    // Records on a terminal would be torn by a progress line on the same screen.
    plan.ProgressShown = IsTerminal(TStandardStream::ssError) &&
                         (!RecordsMode(options.Mode) || !IsTerminal(TStandardStream::ssOutput));
    return 0;
}

// Reads one input through the pipeline into the sink. Returns 0, or 2 after saying why the
// input could not be read. `frames` counts the frames read (cut bursts left out).
int RunInput(const TProgramOptions& options, TRunPlan& plan, std::size_t index,
             TProgress& progress, TSinkOutput& out, std::uint64_t& frames) {
    const std::string& name = plan.Names[index];
    std::string error;
    const auto file = TInputFile::Open(name, error);
    if (!file) {
        progress.Clear();
        WriteMessage(name + ": cannot open: " + error);
        return 2;
    }
    TPipelineSettings settings;
    settings.Threads = options.Threads != 0 ? options.Threads
                       : file->IsRegular() ? CountProcessors()
                                           : 1;
    settings.BatchFrames = BatchFramesFor(*file);
    try {
        // Frames typed at a terminal are hexadecimal text: recognising the format would wait
        // for many lines before the first record.
        TReaderOptions readerOptions = options.Reader;
        readerOptions.Path = name;
        if (readerOptions.Format == AutoFormatName && file->IsTerminal()) {
            readerOptions.Format = "hex";
        }
        const auto reader = OpenCaptureReader(*file, readerOptions);
        NoteUnusedOptions(name, reader->Format(), readerOptions, plan, progress);
        const TSinkInput input{name, reader.get(), index};
        TOutputSink& sink = *plan.Sink;
        sink.BeginInput(input, out);
        RunSinkPipeline(*reader, settings, sink, [&](TBatchSlot& slot) {
            sink.Consume(slot.Batch, *slot.Result, slot.Sequence, input, out);
            const TCaptureBatch& batch = slot.Batch;
            std::uint64_t cut = 0;
            if (!batch.Timing.empty()) {
                for (const TCaptureFrame& frame : batch.Frames) {
                    cut += frame.Kind == TCaptureKind::ckCut ? 1 : 0;
                }
            }
            frames += batch.Frames.size() - cut;
            progress.Update(name, frames, batch.BytesConsumed, file->Size());
        });
        sink.EndInput(input, out);
    } catch (const TInputError& e) {
        progress.Clear();
        const std::string where = e.Line() > 0 ? name + ":" + std::to_string(e.Line()) : name;
        WriteMessage(where + ": " + e.what());
        return 2;
    }
    return 0;
}

// After the last input: what the sink writes at the end, and the exit status.
int FinishRun(TRunPlan& plan, std::uint64_t frames, TSinkOutput& out) {
    const int status = plan.Sink->Finish(frames, out);
    if (frames == 0) {
        WriteMessage("no frames in the input");
        return 1;
    }
    return status;
}

} // namespace

int RunProgram(const std::vector<std::string>& args) {
    TProgramOptions options;
    const TParseResult parsed = ParseCommandLine(args, options);
    if (!parsed.Run) {
        std::string error;
        if (!parsed.Output.empty() && !WriteStandardOutput(parsed.Output, error)) {
            WriteMessage("cannot write the output: " + error);
            return 2;
        }
        WriteStandardError(parsed.Error);
        return parsed.ExitStatus;
    }
    TRunPlan plan;
    if (const int status = PlanRun(options, plan); status != 0) {
        return status;
    }
    TProgress progress(plan.ProgressShown);
    TStandardSinkOutput out;
    try {
        std::uint64_t frames = 0;
        for (std::size_t i = 0; i < plan.Names.size(); ++i) {
            if (const int status = RunInput(options, plan, i, progress, out, frames); status != 0) {
                return status;
            }
        }
        progress.Clear();
        return FinishRun(plan, frames, out);
    } catch (const TOutputError& e) {
        progress.Clear();
        WriteMessage(std::string("cannot write the output: ") + e.what());
        return 2;
    }
}

