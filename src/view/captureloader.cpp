#include "view/captureloader.h"

#include "capture/capture.h"
#include "capture/control/controlframes.h"
#include "capture/control/registermap.h"
#include "cli/options.h"
#include "cli/platform.h"
#include "cli/records.h"
#include "cli/registers.h"
#include "cli/scan.h"
#include "capture/signal/saleaebinary.h"
#include "capture/signal/saleaedigital.h"
#include "capture/signal/signalreader.h"
#include "capture/signal/sigroksession.h"
#include "capture/signal/vcd.h"
#include "cli/summary.h"
#include "cli/textout.h"
#include "capture/textutil.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <deque>
#include <exception>
#include <filesystem>
#include <iterator>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>

namespace {

constexpr std::size_t LoadBatchFrames = 64 * 1024;

TReaderOptions ReaderOptionsOf(const TLoadSettings& settings) {
    TReaderOptions options;
    if (settings.Format != AutoFormatName && FindInputFormat(settings.Format) == nullptr) {
        throw std::invalid_argument("unknown input format \"" + settings.Format + "\"");
    }
    options.Format = settings.Format;
    options.Path = settings.File;
    options.Column = settings.Column;
    options.FrameBytes = settings.FrameBytes;
    options.ClockChannel = settings.ClockChannel;
    options.DataChannel = settings.DataChannel;
    return options;
}

TViewScale ScaleOf(const TLoadSettings& settings) {
    TViewScale view;
    if (settings.ScaleText.empty()) {
        return view;
    }
    TScale scale;
    std::string error;
    if (!ParseScaleText(settings.ScaleText, scale, error)) {
        // The parser names the command-line option; the window names its field.
        constexpr std::string_view option = "--scale: ";
        if (error.rfind(option, 0) == 0) {
            error.erase(0, option.size());
        }
        throw std::invalid_argument("scale: " + error);
    }
    view.Enabled = true;
    view.Factor = scale.Factor;
    view.Unit = scale.Unit;
    return view;
}

TScale CliScaleOf(const TViewScale& view) {
    TScale scale;
    scale.Enabled = view.Enabled;
    scale.Factor = view.Factor;
    scale.Unit = view.Unit;
    return scale;
}

TFrameSource SourceOf(TCaptureKind kind) {
    switch (kind) {
    case TCaptureKind::ckHex: return TFrameSource::fsHex;
    case TCaptureKind::ckBissFields: return TFrameSource::fsFields;
    case TCaptureKind::ckBits: return TFrameSource::fsBits;
    case TCaptureKind::ckCut: return TFrameSource::fsCut;
    case TCaptureKind::ckInvalid: break;
    }
    return TFrameSource::fsInvalid;
}

TCaptureKind KindOf(TFrameSource source) {
    switch (source) {
    case TFrameSource::fsHex: return TCaptureKind::ckHex;
    case TFrameSource::fsFields: return TCaptureKind::ckBissFields;
    case TFrameSource::fsBits: return TCaptureKind::ckBits;
    case TFrameSource::fsCut: return TCaptureKind::ckCut;
    case TFrameSource::fsInvalid: break;
    }
    return TCaptureKind::ckInvalid;
}

TFrameOutcome OutcomeOf(TDecodeOutcome outcome) {
    switch (outcome) {
    case TDecodeOutcome::doDecoded: return TFrameOutcome::foDecoded;
    case TDecodeOutcome::doNoStartBit: return TFrameOutcome::foNoStartBit;
    case TDecodeOutcome::doInvalidInput: break;
    }
    return TFrameOutcome::foInvalidInput;
}

// A stored frame as the capture library's frame again, its input as the whole batch text.
TCaptureFrame CaptureFrameOf(const TCaptureStore& store, std::size_t i, std::string_view input) {
    TCaptureFrame frame;
    frame.Line = store.Line(i);
    frame.Kind = KindOf(store.Source(i));
    frame.InputOffset = 0;
    frame.InputSize = static_cast<std::uint32_t>(input.size());
    frame.Data = store.Fields(i);
    frame.BitCount = store.BitCount(i);
    return frame;
}

// The timing of a stored frame of a signal capture.
TFrameTiming TimingOf(const TCaptureStore& store, std::size_t i) {
    TFrameTiming timing;
    timing.Time = store.Time(i);
    timing.ClockHz = store.ClockHz(i);
    timing.LineDelay = store.LineDelay(i);
    timing.Cdm = store.Cdm(i);
    return timing;
}

// Splits text of CSV records (one a line, no line breaks inside fields) into their fields.
std::vector<std::vector<std::string>> SplitCsvLines(std::string_view text) {
    std::vector<std::vector<std::string>> rows;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        rows.push_back(SplitCsvRecord(line));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return rows;
}

} // namespace

std::vector<std::string> InputFormatNames() {
    std::vector<std::string> names{std::string(AutoFormatName)};
    for (const TInputFormatInfo* info : InputFormats()) {
        names.emplace_back(info->Name);
    }
    return names;
}

std::string CheckLoadSettings(const TLoadSettings& settings) {
    try {
        ReaderOptionsOf(settings);
        ScaleOf(settings);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    const std::string layout = TFrameLayout::CheckParams(settings.Layout);
    if (!layout.empty()) {
        return "layout: " + layout;
    }
    if (settings.FrameBytes > MaxFrameBytes) {
        return "frame bytes: at most " + std::to_string(MaxFrameBytes);
    }
    return {};
}

namespace {

// A batch read and decoded, waiting to be stored.
struct TDecodedBatch {
    TCaptureBatch Batch;
    std::vector<TStoredFrame> Frames;
};

// Batches handed from the reading thread to the storing one, at most a few at a time.
class TBatchQueue {
public:
    static constexpr std::size_t Depth = 3;

    // False when the consumer has stopped.
    bool Push(std::unique_ptr<TDecodedBatch> batch) {
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [this] { return FItems.size() < Depth || FStopped; });
        if (FStopped) {
            return false;
        }
        FItems.push_back(std::move(batch));
        FChanged.notify_all();
        return true;
    }
    // Null once the producer has finished and everything was taken.
    std::unique_ptr<TDecodedBatch> Pop() {
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [this] { return !FItems.empty() || FFinished; });
        if (FItems.empty()) {
            return nullptr;
        }
        auto batch = std::move(FItems.front());
        FItems.pop_front();
        FChanged.notify_all();
        return batch;
    }
    void Finish(std::exception_ptr error) {
        std::lock_guard lock(FMutex);
        FFinished = true;
        FError = std::move(error);
        FChanged.notify_all();
    }
    void Stop() {
        std::lock_guard lock(FMutex);
        FStopped = true;
        FChanged.notify_all();
    }
    std::exception_ptr Error() {
        std::lock_guard lock(FMutex);
        return FError;
    }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::deque<std::unique_ptr<TDecodedBatch>> FItems;
    bool FFinished = false;
    bool FStopped = false;
    std::exception_ptr FError;
};

void DecodeBatch(const TFrameLayout& layout, const TFrameLayoutParams& params, TDecodedBatch& work) {
    work.Frames.resize(work.Batch.Frames.size());
    for (std::size_t i = 0; i < work.Batch.Frames.size(); ++i) {
        const TCaptureFrame& frame = work.Batch.Frames[i];
        const TDecodedRecord record = DecodeCaptureFrame(layout, frame, FrameInput(work.Batch, frame));
        const TFrameFields& f = record.Fields;
        TStoredFrame& stored = work.Frames[i];
        stored.Line = frame.Line;
        stored.Source = SourceOf(frame.Kind);
        stored.Outcome = record.Cut ? TFrameOutcome::foCut : OutcomeOf(f.Outcome);
        if (i < work.Batch.Timing.size()) {
            const TFrameTiming& timing = work.Batch.Timing[i];
            stored.Time = timing.Time;
            stored.ClockHz = timing.ClockHz;
            stored.LineDelay = timing.LineDelay;
            stored.Cdm = timing.Cdm;
            stored.BitCount = frame.Kind == TCaptureKind::ckBits ? frame.BitCount : std::uint16_t{0};
        }
        stored.CrcOk = f.CrcOk;
        stored.Error = f.Error;
        stored.Warning = f.Warning;
        stored.Truncated = f.Truncated;
        stored.Value = CountAsDouble(params, f.Count);
        stored.Fields = frame.Data;
    }
}

} // namespace

std::string InPanelTerms(std::string message) {
    // Longer forms first: "--clock NAME or INDEX" is replaced whole before "--clock" alone.
    static constexpr std::pair<std::string_view, std::string_view> Terms[] = {
        {"--clock NAME or INDEX", "\"Clock channel\" (a name or an index)"},
        {"--data NAME or INDEX", "\"Data channel\" (a name or an index)"},
        {"--frame-bytes N", "\"Frame bytes\""},
        {"--frame-bytes", "\"Frame bytes\""},
        {"--clock", "\"Clock channel\""},
        {"--data", "\"Data channel\""},
        {"--column", "\"Column\""},
        {"--input", "\"Format\""},
    };
    for (const auto& [option, field] : Terms) {
        std::size_t at = 0;
        while ((at = message.find(option, at)) != std::string::npos) {
            const std::size_t end = at + option.size();
            // Whole options only: "--data" is not the start of "--database".
            const bool longer =
                end < message.size() && (std::isalnum(static_cast<unsigned char>(message[end])) || message[end] == '-');
            if (longer) {
                at = end;
            } else {
                message.replace(at, option.size(), field);
                at += field.size();
            }
        }
    }
    return message;
}

namespace {

// An input error of the capture being read, naming its file and line, in the window's terms
// or (OptionTerms) the options'.
std::string InputErrorText(const TLoadSettings& settings, const TInputError& e) {
    return (e.Line() > 0 ? settings.File + ":" + std::to_string(e.Line()) : settings.File) + ": " +
           (settings.OptionTerms ? std::string(e.what()) : InPanelTerms(e.what()));
}

} // namespace

TLoadResult LoadCapture(const TLoadSettings& settings, TCapture& capture, TLoadProgress& progress,
                        const std::atomic<bool>& cancel, std::string& error) {
    capture.Store.Clear();
    capture.Settings = settings;
    error = CheckLoadSettings(settings);
    if (!error.empty()) {
        return TLoadResult::lrFailed;
    }
    capture.Scale = ScaleOf(settings);
    const TFrameLayout layout(settings.Layout);
    const auto file = TInputFile::Open(settings.File, error);
    if (!file) {
        error = settings.File + ": cannot open: " + error;
        return TLoadResult::lrFailed;
    }
    progress.TotalBytes = file->Size();
    std::unique_ptr<TCaptureReader> reader;
    try {
        reader = OpenCaptureReader(*file, ReaderOptionsOf(settings));
    } catch (const TInputError& e) {
        error = InputErrorText(settings, e);
        return TLoadResult::lrFailed;
    }
    capture.FormatName = std::string(reader->Format());
    capture.SourceSeparator = reader->SourceSeparator();
    const bool signal = IsSignalCapture(*reader);

    // The summary as corvane-decode --summary counts it, and for signal captures the control
    // channel's register accesses, both gathered on the reading thread as batches pass.
    TSummarySink summary(TOutputFormat::ofTable, settings.Layout, CliScaleOf(capture.Scale));
    const std::unique_ptr<TBatchResult> summaryResult = summary.NewResult();
    TStringSinkOutput summaryOut;
    const TSinkInput input{settings.File, reader.get(), 0};
    summary.BeginInput(input, summaryOut);
    TControlDecoder control;
    std::vector<TControlBits> controlBits;
    std::vector<TRegisterAccess> accesses;
    std::uint64_t frames = 0;

    // One thread reads and decodes, this one stores: the two halves of the work take about
    // as long as each other.
    TBatchQueue queue;
    std::thread producer([&] {
        try {
            std::uint64_t sequence = 0;
            while (!cancel.load(std::memory_order_relaxed)) {
                auto work = std::make_unique<TDecodedBatch>();
                if (!reader->ReadBatch(work->Batch, LoadBatchFrames)) {
                    break;
                }
                DecodeBatch(layout, settings.Layout, *work);
                summary.Process(work->Batch, *summaryResult);
                summary.Consume(work->Batch, *summaryResult, sequence++, input, summaryOut);
                for (const TCaptureFrame& frame : work->Batch.Frames) {
                    frames += frame.Kind == TCaptureKind::ckCut ? 0 : 1;
                }
                if (signal) {
                    controlBits.clear();
                    if (AppendControlBits(work->Batch, layout, 0, controlBits)) {
                        control.Feed(controlBits, accesses);
                    }
                }
                if (!queue.Push(std::move(work))) {
                    break;
                }
            }
            if (!cancel.load(std::memory_order_relaxed)) {
                summary.EndInput(input, summaryOut);
                summary.Finish(frames, summaryOut);
                if (signal) {
                    control.Finish(accesses);
                }
            }
            queue.Finish(nullptr);
        } catch (...) {
            queue.Finish(std::current_exception());
        }
    });
    bool outOfMemory = false;
    try {
        while (auto work = queue.Pop()) {
            if (cancel.load(std::memory_order_relaxed)) {
                break;
            }
            for (std::size_t i = 0; i < work->Frames.size(); ++i) {
                capture.Store.Append(work->Frames[i], FrameInput(work->Batch, work->Batch.Frames[i]));
            }
            progress.Bytes = work->Batch.BytesConsumed;
            progress.Frames = capture.Store.Size();
        }
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    queue.Stop();
    producer.join();
    try {
        if (const std::exception_ptr failure = queue.Error()) {
            std::rethrow_exception(failure);
        }
    } catch (const TInputError& e) {
        capture.Store.Clear();
        error = InputErrorText(settings, e);
        return TLoadResult::lrFailed;
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    if (outOfMemory) {
        capture.Store.Clear();
        error = settings.File + ": not enough memory for the capture";
        return TLoadResult::lrFailed;
    }
    if (cancel.load()) {
        return TLoadResult::lrCancelled;
    }
    capture.SummaryText = std::move(summaryOut.Text);
    if (signal) {
        TRegisterFormatter formatter(TOutputFormat::ofCsv);
        formatter.SetSourceName(0, settings.File);
        const auto header = SplitCsvLines(formatter.Header());
        if (!header.empty()) {
            capture.RegisterColumns = header.front();
        }
        TOutBuffer out;
        TRegisterMap map;
        for (const TRegisterAccess& access : accesses) {
            formatter.AppendRecord(out, access);
            map.Add(access);
        }
        capture.RegisterRows = SplitCsvLines(out.View());
        capture.RegisterMapText = FormatRegisterMap(map, TOutputFormat::ofTable);
    }
    return TLoadResult::lrOk;
}

// ---- Records ----

struct TRecordSource::TImpl {
    const TCapture& Capture;
    TFrameLayout Layout;
    TRecordFormatter Formatter;

    explicit TImpl(const TCapture& capture)
        : Capture(capture), Layout(capture.Settings.Layout),
          Formatter(TOutputFormat::ofCsv, capture.Settings.Layout, CliScaleOf(capture.Scale),
                    capture.SourceSeparator == '#') {
        Formatter.SetSourceName(capture.Settings.File, capture.SourceSeparator);
    }

    void Append(TOutBuffer& out, std::size_t i) const {
        const std::string input = Capture.Store.Input(i);
        const TCaptureFrame frame = CaptureFrameOf(Capture.Store, i, input);
        TDecodedRecord record = DecodeCaptureFrame(Layout, frame, input);
        TFrameTiming timing;
        if (Capture.Store.HasTime()) {
            timing = TimingOf(Capture.Store, i);
            record.Timing = &timing;
        }
        Formatter.AppendRecord(out, frame, input, record);
    }
};

TRecordSource::TRecordSource(const TCapture& capture) : FImpl(std::make_unique<TImpl>(capture)) {
    std::string header = FImpl->Formatter.Header();
    while (!header.empty() && (header.back() == '\n' || header.back() == '\r')) {
        header.pop_back();
    }
    FColumns = SplitCsvRecord(header);
}

TRecordSource::~TRecordSource() = default;

std::vector<std::string> TRecordSource::Fields(std::size_t i) const {
    TOutBuffer out;
    FImpl->Append(out, i);
    std::string_view text = out.View();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    std::vector<std::string> fields = SplitCsvRecord(text);
    fields.resize(FColumns.size());
    return fields;
}

bool TRecordSource::WriteCsv(std::ostream& out) const {
    const std::string header = FImpl->Formatter.Header();
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    TOutBuffer buffer;
    const std::size_t n = FImpl->Capture.Store.Size();
    for (std::size_t i = 0; i < n && out; ++i) {
        FImpl->Append(buffer, i);
        if (buffer.Size() >= 1 << 20 || i + 1 == n) {
            out.write(buffer.View().data(), static_cast<std::streamsize>(buffer.Size()));
            buffer.Clear();
        }
    }
    out.flush();
    return static_cast<bool>(out);
}

std::vector<std::string> SplitCsvRecord(std::string_view record) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < record.size(); ++i) {
        const char c = record[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < record.size() && record[i + 1] == '"') {
                    fields.back() += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// ---- The layout scan ----

std::vector<TLayoutCandidate> ScanLayouts(const TCapture& capture, std::size_t count,
                                          const std::atomic<bool>& cancel) {
    const TScanner scanner(0, 0);
    std::vector<std::uint64_t> counters(scanner.CounterCount());
    const TCaptureStore& store = capture.Store;
    for (std::size_t i = 0; i < store.Size() && !cancel.load(std::memory_order_relaxed); ++i) {
        const std::string input = store.Input(i);
        scanner.CountFrame(CaptureFrameOf(store, i, input), input, counters);
    }
    std::vector<TLayoutCandidate> result;
    for (const TScanCandidate& c : scanner.Candidates(counters)) {
        if (result.size() >= count) {
            break;
        }
        result.push_back({c.Length, c.Crc, c.CrcStart, c.CrcInverted, c.Passed});
    }
    return result;
}

// ---- The command line ----

bool ParseLoadArguments(const std::vector<std::string>& args, TLoadSettings& settings, std::string& error) {
    TProgramOptions options;
    const TParseResult parsed = ParseCommandLine(args, options);
    if (!parsed.Run) {
        error = parsed.ExitStatus == 0 ? std::string("unexpected option") : parsed.Error;
        while (!error.empty() && error.back() == '\n') {
            error.pop_back();
        }
        // The view names itself before the message.
        const std::string prefix = "corvane-decode: ";
        if (error.rfind(prefix, 0) == 0) {
            error.erase(0, prefix.size());
        }
        // The options are the view's as well; its own help lists them.
        const std::string decodeHelp = "corvane-decode --help";
        for (std::size_t at = error.find(decodeHelp); at != std::string::npos; at = error.find(decodeHelp, at)) {
            error.replace(at, decodeHelp.size(), "corvane-view --help");
        }
        return false;
    }
    if (options.Mode != TRunMode::rmRecords) {
        error = "--summary and --scan are not plot options";
        return false;
    }
    if (options.Files.size() != 1 || options.Files[0] == "-") {
        error = "give exactly one capture file";
        return false;
    }
    settings.File = options.Files[0];
    settings.Format = options.Reader.Format;
    settings.Column = options.Reader.Column;
    settings.FrameBytes = options.Reader.FrameBytes;
    settings.ClockChannel = options.Reader.ClockChannel;
    settings.DataChannel = options.Reader.DataChannel;
    settings.Layout = options.Layout;
    settings.ScaleText.clear();
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--scale" && i + 1 < args.size()) {
            settings.ScaleText = args[i + 1];
        } else if (args[i].rfind("--scale=", 0) == 0) {
            settings.ScaleText = args[i].substr(8);
        }
    }
    return true;
}

// ---- The lines of a signal capture ----

namespace {

// The logic source of a signal format over the file again; `bytes` keeps the file open for
// the formats read through a byte source.
std::unique_ptr<TLogicSource> OpenLogicSource(const std::string& format, const std::string& path,
                                              std::unique_ptr<TInputFile>& bytes) {
    std::string error;
    if (format == "saleae-binary") {
        std::filesystem::path where = PathFromUtf8(path);
        std::error_code code;
        if (!std::filesystem::is_directory(where, code)) {
            where = where.parent_path().empty() ? std::filesystem::path(".") : where.parent_path();
        }
        return OpenSaleaeBinaryExport({where});
    }
    if (format == "sigrok-session") {
        return OpenSigrokSession(PathFromUtf8(path));
    }
    if (format != "vcd" && format != "saleae-digital") {
        throw TInputError(0, "\"" + format + "\" is no signal capture");
    }
    bytes = TInputFile::Open(path, error);
    if (!bytes) {
        throw TInputError(0, "cannot open: " + error);
    }
    return format == "vcd" ? OpenVcdSource(*bytes) : OpenSaleaeDigitalSource(*bytes);
}

} // namespace

struct TSignalLines::TImpl {
    TLoadSettings Settings;
    std::string FormatName;
    mutable std::mutex Mutex;
    std::unique_ptr<TInputFile> Bytes;
    std::unique_ptr<TLogicSource> Logic;
    // Every change up to Reached is consumed: Levels are the lines' levels after them.
    // Pending holds the changes read after those, from PendingFirst on.
    double Reached = -std::numeric_limits<double>::infinity();
    std::uint8_t Levels = 0;
    std::vector<TLogicEdge> Pending;
    std::size_t PendingFirst = 0;
    bool Ended = false;
    std::uint64_t BytesOfClosed = 0; // read by sources since closed
    // The last consumed changes, from History[HistoryFirst] on (at most HistoryEdges), in
    // time order; before them the lines were at BaseLevels with every change up to BaseTime
    // consumed. A window from BaseTime on is served by giving the later ones back to Pending.
    std::size_t HistoryEdges = 0;
    std::vector<TLogicEdge> History;
    std::size_t HistoryFirst = 0;
    double BaseTime = -std::numeric_limits<double>::infinity();
    std::uint8_t BaseLevels = 0;

    void Consume(const TLogicEdge& edge) {
        Levels = edge.Levels;
        Reached = edge.Time;
        if (HistoryEdges == 0) {
            BaseTime = edge.Time;
            BaseLevels = edge.Levels;
            return;
        }
        History.push_back(edge);
        if (History.size() - HistoryFirst > HistoryEdges) {
            const TLogicEdge& dropped = History[HistoryFirst++];
            BaseTime = dropped.Time;
            BaseLevels = dropped.Levels;
            // The dropped ones are erased in blocks, not one by one.
            if (HistoryFirst >= HistoryEdges) {
                History.erase(History.begin(),
                              History.begin() + static_cast<std::ptrdiff_t>(HistoryFirst));
                HistoryFirst = 0;
            }
        }
    }

    // Goes back to the state after the changes up to `from` (from >= BaseTime): the kept
    // changes after it are pending again.
    void Rewind(double from) {
        const auto kept = History.begin() + static_cast<std::ptrdiff_t>(HistoryFirst);
        const auto later = std::upper_bound(
            kept, History.end(), from, [](double t, const TLogicEdge& e) { return t < e.Time; });
        Pending.erase(Pending.begin(), Pending.begin() + static_cast<std::ptrdiff_t>(PendingFirst));
        Pending.insert(Pending.begin(), later, History.end());
        PendingFirst = 0;
        if (later == kept) {
            Levels = BaseLevels;
            Reached = BaseTime;
        } else {
            Levels = std::prev(later)->Levels;
            Reached = std::prev(later)->Time;
        }
        History.erase(later, History.end());
    }

    void Close() {
        if (Logic) {
            BytesOfClosed += Logic->BytesConsumed();
        }
        Logic.reset();
        Bytes.reset();
    }

    void OpenAtStart() {
        Close();
        Logic = OpenLogicSource(FormatName, Settings.File, Bytes);
        SelectSignalChannels(*Logic, ReaderOptionsOf(Settings));
        Levels = Logic->InitialLevels();
        Reached = -std::numeric_limits<double>::infinity();
        Pending.clear();
        PendingFirst = 0;
        Ended = false;
        History.clear();
        HistoryFirst = 0;
        BaseTime = Reached;
        BaseLevels = Levels;
    }

    TLoadResult Read(double from, double to, TSignalWindow& window, const std::atomic<bool>& cancel) {
        if (cancel.load(std::memory_order_relaxed)) {
            return TLoadResult::lrCancelled;
        }
        if (Logic && from < Reached && from >= BaseTime) {
            Rewind(from);
        }
        if (!Logic || from < Reached) {
            OpenAtStart();
        }
        std::vector<TLogicEdge> batch;
        std::size_t next = PendingFirst;
        for (;;) {
            if (next == Pending.size()) {
                if (Ended) {
                    break;
                }
                if (cancel.load(std::memory_order_relaxed)) {
                    return TLoadResult::lrCancelled;
                }
                // Changes before PendingFirst are consumed; those after it may belong to the
                // next window as well and stay.
                Pending.erase(Pending.begin(), Pending.begin() + static_cast<std::ptrdiff_t>(PendingFirst));
                next -= PendingFirst;
                PendingFirst = 0;
                if (!Logic->Read(batch)) {
                    Ended = true;
                    break;
                }
                Pending.insert(Pending.end(), batch.begin(), batch.end());
                continue;
            }
            const TLogicEdge& edge = Pending[next];
            if (edge.Time > to) {
                break;
            }
            if (edge.Time <= from) {
                Consume(edge);
                PendingFirst = ++next;
                continue;
            }
            if (window.Edges.size() >= TSignalWindow::MaxEdges) {
                window.Truncated = true;
                break;
            }
            window.Edges.push_back({edge.Time, (edge.Levels & LogicClockBit) != 0,
                                    (edge.Levels & LogicDataBit) != 0, (edge.Levels & LogicGapBit) != 0});
            ++next;
        }
        window.ClockAtFrom = (Levels & LogicClockBit) != 0;
        window.DataAtFrom = (Levels & LogicDataBit) != 0;
        window.GapAtFrom = (Levels & LogicGapBit) != 0;
        return TLoadResult::lrOk;
    }
};

TSignalLines::TSignalLines(const TCapture& capture, std::size_t historyEdges)
    : FImpl(std::make_unique<TImpl>()) {
    FImpl->Settings = capture.Settings;
    FImpl->FormatName = capture.FormatName;
    FImpl->HistoryEdges = historyEdges;
}

TSignalLines::~TSignalLines() = default;

TLoadResult TSignalLines::Read(double from, double to, TSignalWindow& window, const std::atomic<bool>& cancel,
                               std::string& error) {
    const std::lock_guard<std::mutex> lock(FImpl->Mutex);
    window = TSignalWindow{};
    window.From = from;
    window.To = to;
    try {
        return FImpl->Read(from, to, window, cancel);
    } catch (const TInputError& e) {
        error = InputErrorText(FImpl->Settings, e);
    } catch (const std::bad_alloc&) {
        error = FImpl->Settings.File + ": not enough memory for the lines";
    }
    // The next read starts again from the file's start.
    FImpl->Close();
    window.Edges.clear();
    return TLoadResult::lrFailed;
}

std::uint64_t TSignalLines::BytesRead() const {
    const std::lock_guard<std::mutex> lock(FImpl->Mutex);
    return FImpl->BytesOfClosed + (FImpl->Logic ? FImpl->Logic->BytesConsumed() : 0);
}

TLoadResult ReadSignalWindow(const TCapture& capture, double from, double to, TSignalWindow& window,
                             const std::atomic<bool>& cancel, std::string& error) {
    return TSignalLines(capture).Read(from, to, window, cancel, error);
}
