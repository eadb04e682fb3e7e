#include "program.h"

#include "batchwork.h"
#include "options.h"
#include "pipeline.h"
#include "platform.h"
#include "progress.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

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

    std::vector<std::string> names = options.Files;
    if (names.empty()) {
        names.push_back("-");
    }
    // Every file must open before anything is read, so that a mistyped name stops the run at
    // once instead of after the files before it.
    for (const std::string& name : names) {
        std::string error;
        std::uint64_t size = 0;
        if (!TInputFile::Check(name, size, error)) {
            WriteMessage(name + ": cannot open: " + error);
            return 2;
        }
    }

    TOutputFormat format = options.Format;
    if (!options.FormatGiven) {
        const bool table = options.Mode != TRunMode::rmRecords || IsTerminal(TStandardStream::ssOutput);
        format = table ? TOutputFormat::ofTable : TOutputFormat::ofCsv;
    }

    std::optional<TFrameLayout> layout;
    std::optional<TRecordFormatter> formatter;
    std::optional<TScanner> scanner;
    if (options.Mode == TRunMode::rmScan) {
        scanner.emplace(options.CrcGiven ? options.Layout.CrcPolynomial : 0, options.Layout.CrcStart);
    } else {
        layout.emplace(options.Layout);
        formatter.emplace(format, options.Layout, options.Scale);
        if (format == TOutputFormat::ofTable) {
            formatter->SetSourceWidth(SourceWidth(names));
        }
    }
    const TBatchWork work(options.Mode, layout ? &*layout : nullptr,
                          formatter ? &*formatter : nullptr, scanner ? &*scanner : nullptr);

    // Records on a terminal would be torn by a progress line on the same screen.
    const bool progressShown = IsTerminal(TStandardStream::ssError) &&
                               (options.Mode != TRunMode::rmRecords ||
                                !IsTerminal(TStandardStream::ssOutput));
    TProgress progress(progressShown);
    TRunTotals totals;
    try {
        // The header goes out once the first input was recognised, so that an input that
        // cannot be read leaves standard output empty.
        bool headerWritten = options.Mode != TRunMode::rmRecords;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string& name = names[i];
            std::string error;
            const auto file = TInputFile::Open(name, error);
            if (!file) {
                progress.Clear();
                WriteMessage(name + ": cannot open: " + error);
                return 2;
            }
            if (formatter) {
                formatter->SetSourceName(name);
            }
            TPipelineSettings settings;
            settings.Threads = options.Threads != 0 ? options.Threads
                               : file->IsRegular() ? CountProcessors()
                                                   : 1;
            settings.BatchFrames = BatchFramesFor(*file);
            const bool newInput = i > 0;
            try {
                // Frames typed at a terminal are hexadecimal text: recognising the format
                // would wait for many lines before the first record.
                TReaderOptions readerOptions = options.Reader;
                readerOptions.Path = name;
                if (readerOptions.Format == "auto" && file->IsTerminal()) {
                    readerOptions.Format = "hex";
                }
                const auto reader = OpenCaptureReader(*file, readerOptions);
                if (!headerWritten) {
                    WriteOutput(formatter->Header());
                    headerWritten = true;
                }
                RunPipeline(
                    *reader, settings, [&work](TBatchSlot& slot) { work.Process(slot); },
                    [&](TBatchSlot& slot) {
                        WriteOutput(slot.Output.View());
                        totals.Add(slot, newInput && slot.Sequence == 0);
                        progress.Update(name, totals.Summary.Frames, slot.Batch.BytesConsumed,
                                        file->Size());
                    });
            } catch (const TInputError& e) {
                progress.Clear();
                const std::string where = e.Line() > 0 ? name + ":" + std::to_string(e.Line()) : name;
                WriteMessage(where + ": " + e.what());
                return 2;
            }
        }
        progress.Clear();

        const TSummary& summary = totals.Summary;
        if (options.Mode == TRunMode::rmSummary) {
            WriteOutput(FormatSummary(summary, format, options.Layout, options.Scale));
        }
        if (options.Mode == TRunMode::rmScan) {
            totals.ScanCounters.resize(scanner->CounterCount());
            const std::vector<TScanCandidate> candidates = scanner->Candidates(totals.ScanCounters);
            WriteOutput(FormatScan(candidates, summary.Frames, format));
            if (summary.Frames > 0 && summary.Frames < 4) {
                WriteMessage("warning: only " + std::to_string(summary.Frames) +
                             (summary.Frames == 1 ? " frame" : " frames") +
                             ": few frames fit several layouts (one frame of the window's layout "
                             "passes at 17, 26 and 41 bits); give at least 4");
            }
            if (summary.Frames == 0) {
                WriteMessage("no frames in the input");
                return 1;
            }
            return !candidates.empty() && candidates.front().Passed == summary.Frames ? 0 : 1;
        }
        if (summary.Frames == 0) {
            WriteMessage("no frames in the input");
            return 1;
        }
        return summary.AllGood() ? 0 : 1;
    } catch (const TOutputError& e) {
        progress.Clear();
        WriteMessage(std::string("cannot write the output: ") + e.what());
        return 2;
    }
}
