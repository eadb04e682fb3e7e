// Signal captures in the view: the store of a signal capture's frames, a capture loaded with
// its times, the lines of a frame read again against the link model that wrote the capture,
// and the register accesses of the register sample in the window.
#include "view/captureloader.h"
#include "logicwriters.h"
#include "view/signalview.h"
#include "tempdir.h"
#include "viewtest.h"
#include "view/viewwindow.h"
#include "waveformmodel.h"

#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

std::string SamplePath(const char* file) {
    return std::string(CORVANE_CAPTURES_DIR) + "/" + file;
}

TLoadResult Load(const std::string& file, TCapture& capture, std::string& error, const char* clock = "",
                 const char* data = "") {
    TLoadSettings settings;
    settings.File = file;
    settings.ClockChannel = clock;
    settings.DataChannel = data;
    TLoadProgress progress;
    const std::atomic<bool> cancel{false};
    return LoadCapture(settings, capture, progress, cancel, error);
}

// A received frame of `bits` bits with the text the signal readers write.
TStoredFrame BitsFrame(std::uint64_t burst, double time, std::uint16_t bits) {
    TStoredFrame f;
    f.Line = burst;
    f.Source = TFrameSource::fsBits;
    f.Time = time;
    f.BitCount = bits;
    f.ClockHz = 1e6 + static_cast<double>(burst) * 1e-3;
    f.LineDelay = 2.5e-7 + static_cast<double>(burst) * 1e-15;
    f.Cdm = static_cast<std::uint8_t>(burst % 2);
    return f;
}

} // namespace

TEST(SignalStore, GivesBackTheInputsAndTimingsExactly) {
    // Packed texts of every length of digits, odd and even, and texts that are not packed.
    struct TCase {
        TFrameSource Source;
        std::uint16_t Bits;
        std::string Input;
    };
    const TCase cases[] = {
        {TFrameSource::fsBits, 1, "8"},
        {TFrameSource::fsBits, 5, "F8"},
        {TFrameSource::fsBits, 41, "C0123456789ABCDEF"},
        {TFrameSource::fsBits, 64, "0123456789ABCDEF"},
        {TFrameSource::fsBits, 8, "ab"},                 // lower case: kept as text
        {TFrameSource::fsBits, 4, "C4"},                 // more digits than bits: kept as text
        {TFrameSource::fsInvalid, 0, "300 clocks: more than a frame can hold"},
        {TFrameSource::fsCut, 0, ""},
    };
    TCaptureStore store;
    std::uint64_t burst = 1;
    for (const TCase& c : cases) {
        TStoredFrame f = BitsFrame(burst, 1e-3 * static_cast<double>(burst), c.Bits);
        f.Source = c.Source;
        f.Outcome = c.Source == TFrameSource::fsCut ? TFrameOutcome::foCut : TFrameOutcome::foDecoded;
        store.Append(f, c.Input);
        ++burst;
    }
    ASSERT_TRUE(store.HasTime());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(store.Input(i), cases[i].Input);
        EXPECT_EQ(store.Source(i), cases[i].Source);
        EXPECT_EQ(store.BitCount(i), cases[i].Source == TFrameSource::fsBits ? cases[i].Bits : 0);
        const TStoredFrame want = BitsFrame(i + 1, 1e-3 * static_cast<double>(i + 1), 0);
        EXPECT_EQ(store.Time(i), want.Time);
        EXPECT_EQ(store.ClockHz(i), want.ClockHz);
        EXPECT_EQ(store.LineDelay(i), want.LineDelay);
        EXPECT_EQ(store.Cdm(i), want.Cdm);
        EXPECT_EQ(store.Line(i), i + 1);
    }
    EXPECT_EQ(store.Marks(7), fmInvalid);
    EXPECT_EQ(store.Totals().Cut, 1U);
}

TEST(SignalStore, StaysWithinFortyEightBytesAFrame) {
    // 64-bit frames, each with its time, clock and line delay: what four more chunks of
    // frames add is at most 48 bytes a frame, and what is held beyond that a few MB.
    constexpr std::size_t n = 4 * 65536;
    TCaptureStore store;
    auto append = [&store](std::size_t count) {
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t i = store.Size();
            TStoredFrame f = BitsFrame(i + 1, 1e-4 * static_cast<double>(i), 64);
            f.Value = static_cast<double>(i);
            store.Append(f, "C004C9BA71753000");
        }
    };
    append(n);
    const std::size_t first = store.MemoryBytes();
    append(n);
    // A word per chunk of bookkeeping aside.
    EXPECT_LE(store.MemoryBytes() - first, 48 * n + 1024);
    EXPECT_LE(store.MemoryBytes(), 48 * 2 * n + (4U << 20));
    EXPECT_EQ(store.Input(2 * n - 1), "C004C9BA71753000");
    EXPECT_EQ(store.Input(65536), "C004C9BA71753000");
}

TEST(SignalLoad, ASignalCaptureLoadsWithItsTimes) {
    struct TCase {
        const char* File;
        const char* Format;
        const char* Clock;
        const char* Data;
    };
    // The binary export names its channels digital_N: they are chosen by index.
    const TCase cases[] = {{"signal-registers.vcd", "vcd", "", ""},
                           {"signal-registers.sr", "sigrok-session", "", ""},
                           {"signal-biss.csv", "saleae-digital", "", ""},
                           {"signal-biss-binary", "saleae-binary", "0", "1"}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File);
        TCapture capture;
        std::string error;
        ASSERT_EQ(Load(SamplePath(c.File), capture, error, c.Clock, c.Data), TLoadResult::lrOk) << error;
        const TCaptureStore& store = capture.Store;
        EXPECT_EQ(capture.FormatName, c.Format);
        EXPECT_EQ(capture.SourceSeparator, '#');
        ASSERT_TRUE(store.HasTime());
        ASSERT_GT(store.Size(), 0U);
        for (std::size_t i = 1; i < store.Size(); ++i) {
            EXPECT_LT(store.Time(i - 1), store.Time(i)) << i;
        }
        // The summary is corvane-decode's, signal figures included.
        EXPECT_NE(capture.SummaryText.find("clock"), std::string::npos) << capture.SummaryText;
    }
    // The register sample: 328 frames at 1 MHz, SLO 250 ns behind MA.
    TCapture capture;
    std::string error;
    ASSERT_EQ(Load(SamplePath("signal-registers.vcd"), capture, error), TLoadResult::lrOk) << error;
    const TCaptureStore& store = capture.Store;
    ASSERT_EQ(store.Size(), 328U);
    EXPECT_EQ(store.Totals().Decoded, 328U);
    EXPECT_EQ(store.Totals().CrcOk, 328U);
    for (std::size_t i = 0; i < store.Size(); ++i) {
        EXPECT_NEAR(store.ClockHz(i), 1e6, 1.0) << i;
        EXPECT_NEAR(store.LineDelay(i), 250e-9, 1e-12) << i;
        EXPECT_EQ(store.Line(i), i + 1);
    }
    EXPECT_LT(store.Time(store.Size() - 1), 17.1e-3);
}

TEST(SignalLoad, TheLinesOfAFrameAreTheModelsChanges) {
    // Frames of the window's default layout on a link with a line delay, written as a VCD
    // and as a logic analyzer's CSV export; every frame's lines are read again.
    TLinkParams link;
    link.ClockHz = 2e6;
    link.LineDelay = 180e-9;
    std::vector<TModelFrame> script;
    const TFrameLayoutParams layout;
    for (int i = 0; i < 6; ++i) {
        TFrameContent content;
        content.AckLength = 3 + i % 3;
        content.AckOnes = 1; // the slave answers r(1) at once: ACK zeros from bit 2 on
        content.Count = 0x123456U + 977U * static_cast<unsigned>(i);
        content.TotalBits = 0;
        content.CrcFlip = i == 4 ? 1 : 0;
        script.push_back(ScriptFrame(BuildFrame(layout, content).Received, i % 2 == 1));
    }
    const TModelCapture model = RunLink(link, script);
    const fs::path dir = MakeTempDir("view-lines");
    const std::pair<const char*, std::string> files[] = {{"link.vcd", WriteVcd(model.Wave)},
                                                         {"link.csv", WriteSaleaeDigitalCsv(model.Wave)}};
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        TCapture capture;
        std::string error;
        ASSERT_EQ(Load(path.string(), capture, error), TLoadResult::lrOk) << error;
        const TCaptureStore& store = capture.Store;
        ASSERT_EQ(store.Size(), model.Expected.size());
        // The CSV export writes times with 9 decimals: a nanosecond either way.
        const double tolerance = 1.5e-9;
        for (std::size_t i = 0; i < store.Size(); ++i) {
            SCOPED_TRACE(i);
            double from = 0.0;
            double to = 0.0;
            FrameWindowSpan(store, i, from, to);
            ASSERT_LT(from, store.Time(i));
            TSignalWindow window;
            const std::atomic<bool> cancel{false};
            ASSERT_EQ(ReadSignalWindow(capture, from, to, window, cancel, error), TLoadResult::lrOk) << error;
            // The levels at the start and every change in (from, to], channel by channel.
            EXPECT_EQ(window.ClockAtFrom, LevelAt(model.Wave, 0, from) != 0);
            EXPECT_EQ(window.DataAtFrom, LevelAt(model.Wave, 1, from) != 0);
            std::vector<double> clock;
            std::vector<double> data;
            bool c = window.ClockAtFrom;
            bool d = window.DataAtFrom;
            for (const TSignalEdge& e : window.Edges) {
                if (e.Clock != c) {
                    clock.push_back(e.Time);
                }
                if (e.Data != d) {
                    data.push_back(e.Time);
                }
                c = e.Clock;
                d = e.Data;
            }
            for (const auto& [channel, got] : {std::pair{0, &clock}, std::pair{1, &data}}) {
                std::vector<double> want;
                for (const double t : model.Wave.Toggles[static_cast<std::size_t>(channel)]) {
                    if (t > from + tolerance && t <= to - tolerance) {
                        want.push_back(t);
                    }
                }
                ASSERT_EQ(got->size(), want.size()) << "channel " << channel;
                for (std::size_t k = 0; k < want.size(); ++k) {
                    EXPECT_NEAR((*got)[k], want[k], tolerance) << "channel " << channel << " change " << k;
                }
            }
            // The sampling points drawn read the frame's bits from the lines.
            const TFrameSignalMarks marks =
                FrameSignalMarks(window, store.Time(i), store.BitCount(i), store.ClockHz(i), store.LineDelay(i));
            const TFrameBits& bits = model.Expected[i].Bits;
            ASSERT_EQ(store.BitCount(i), bits.Length);
            ASSERT_EQ(marks.Samples.size(), static_cast<std::size_t>(bits.Length - 1));
            EXPECT_EQ(marks.Boundaries.size(), marks.Samples.size() + 1);
            for (std::size_t j = 1; j < static_cast<std::size_t>(bits.Length); ++j) {
                EXPECT_EQ(LevelAt(model.Wave, 1, marks.Samples[j - 1]) != 0, bits.Bit(static_cast<std::int32_t>(j)))
                    << "bit " << j;
            }
            ASSERT_TRUE(marks.HasAck);
            // The ACK's fall on SLO, the line delay after r(1).
            EXPECT_NEAR(marks.AckTime - marks.Rises[1], model.Expected[i].LineDelay, 2 * tolerance);
            EXPECT_EQ(LevelAt(model.Wave, 1, marks.AckTime - tolerance), 1);
            EXPECT_EQ(LevelAt(model.Wave, 1, marks.AckTime + tolerance), 0);
        }
    }
    fs::remove_all(dir);
}

namespace {

bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 400 && !done(); ++i) {
        QTest::qWait(25);
    }
    return done();
}

} // namespace

TEST(SignalWindow, ListsTheRegisterAccessesAndDrawsAFramesLines) {
    TViewWindow window;
    window.resize(1200, 800);
    window.show();
    window.OpenFile(QString::fromStdString(SamplePath("signal-registers.vcd")));
    ASSERT_TRUE(WaitFor([&] { return !window.IsLoading(); }));
    ASSERT_NE(window.Loaded(), nullptr);
    EXPECT_TRUE(window.Message().isEmpty()) << window.Message().toStdString();

    // The sample's script: a sequential read of the serial number (0x44-0x47), one of the
    // device and manufacturer IDs (0x78-0x7F), a write of 0x5A to 0x10 and its read back.
    struct TAccess {
        const char* Kind;
        int Address;
        int Data;
    };
    std::vector<TAccess> want;
    const int serial[] = {0x00, 0x12, 0xD6, 0x87};
    for (int k = 0; k < 4; ++k) {
        want.push_back({"read", 0x44 + k, serial[k]});
    }
    const char ids[] = "CV-R26CV";
    for (int k = 0; k < 8; ++k) {
        want.push_back({"read", 0x78 + k, ids[k]});
    }
    want.push_back({"write", 0x10, 0x5A});
    want.push_back({"read", 0x10, 0x5A});

    const QTableWidget* table = window.RegisterTable();
    auto column = [table](const char* name) {
        for (int c = 0; c < table->columnCount(); ++c) {
            if (table->horizontalHeaderItem(c)->text() == QLatin1String(name)) {
                return c;
            }
        }
        return -1;
    };
    const int kind = column("kind");
    const int address = column("address");
    const int data = column("data");
    const int crc = column("crc_ok");
    ASSERT_GE(kind, 0);
    ASSERT_GE(address, 0);
    ASSERT_GE(data, 0);
    ASSERT_GE(crc, 0);
    ASSERT_EQ(table->rowCount(), static_cast<int>(want.size()));
    for (int r = 0; r < table->rowCount(); ++r) {
        SCOPED_TRACE(r);
        const TAccess& a = want[static_cast<std::size_t>(r)];
        EXPECT_EQ(table->item(r, kind)->text().toStdString(), a.Kind);
        EXPECT_EQ(table->item(r, address)->text().toInt(), a.Address);
        EXPECT_EQ(table->item(r, data)->text().toInt(), a.Data);
        EXPECT_EQ(table->item(r, crc)->text().toStdString(), "true");
    }
    EXPECT_TRUE(window.findChild<QPlainTextEdit*>(QString(), Qt::FindChildrenRecursively) != nullptr);

    // Selecting a frame reads its lines again and marks its sampling points.
    window.SelectFrame(3);
    ASSERT_TRUE(WaitFor([&] { return !window.IsReadingLines(); }));
    const TCaptureStore& store = window.Loaded()->Capture.Store;
    EXPECT_EQ(window.SignalView()->Marks().Samples.size(), static_cast<std::size_t>(store.BitCount(3) - 1));
    EXPECT_FALSE(window.SignalView()->Window().Edges.empty());
}

TEST(SignalLoad, ReadingTheLinesFailsWithAReason) {
    // A capture of frames has no lines; a signal capture whose file went away cannot be read.
    TCapture frames;
    std::string error;
    ASSERT_EQ(Load(SamplePath("hex-frames.txt"), frames, error), TLoadResult::lrOk) << error;
    const fs::path dir = MakeTempDir("view-gone");
    const fs::path copy = dir / "gone.vcd";
    fs::copy_file(SamplePath("signal-registers.vcd"), copy);
    TCapture gone;
    ASSERT_EQ(Load(copy.string(), gone, error), TLoadResult::lrOk) << error;
    fs::remove_all(dir);
    struct TCase {
        const TCapture* Capture;
        const char* Needle;
    };
    const TCase cases[] = {{&frames, "no signal capture"}, {&gone, "gone.vcd"}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Needle);
        TSignalWindow window;
        const std::atomic<bool> cancel{false};
        error.clear();
        EXPECT_EQ(ReadSignalWindow(*c.Capture, 0.0, 1e-3, window, cancel, error), TLoadResult::lrFailed);
        EXPECT_NE(error.find(c.Needle), std::string::npos) << error;
    }
    // A cancelled read stops.
    TCapture capture;
    ASSERT_EQ(Load(SamplePath("signal-registers.vcd"), capture, error), TLoadResult::lrOk) << error;
    TSignalWindow window;
    const std::atomic<bool> cancel{true};
    EXPECT_EQ(ReadSignalWindow(capture, 0.0, 1.0, window, cancel, error), TLoadResult::lrCancelled);
}

// Reads the register sample's frame windows in a user's order with a reader that keeps
// `history` changes, each against a fresh read from the start.
void ExpectLinesReadOnEqualFreshReads(std::size_t history) {
    TCapture capture;
    std::string error;
    ASSERT_EQ(Load(SamplePath("signal-registers.vcd"), capture, error), TLoadResult::lrOk) << error;
    const TCaptureStore& store = capture.Store;
    ASSERT_GT(store.Size(), 40U);
    const std::size_t last = store.Size() - 1;
    const std::vector<std::size_t> order = {0,  1,  2,  2,    3,    10,       11,   40, last,
                                            39, 38, 40, last, last, 5, 6, last - 1, last, 0};
    TSignalLines lines(capture, history);
    const std::atomic<bool> go{false};
    const std::atomic<bool> stop{true};
    // A frame's window, and one from the middle of the frame (the lines are not idle there).
    const auto expectSame = [&](double from, double to, bool cancelFirst) {
        TSignalWindow fresh;
        ASSERT_EQ(ReadSignalWindow(capture, from, to, fresh, go, error), TLoadResult::lrOk) << error;
        if (cancelFirst) {
            TSignalWindow cancelled;
            EXPECT_EQ(lines.Read(from, to, cancelled, stop, error), TLoadResult::lrCancelled);
        }
        TSignalWindow window;
        ASSERT_EQ(lines.Read(from, to, window, go, error), TLoadResult::lrOk) << error;
        EXPECT_EQ(window.ClockAtFrom, fresh.ClockAtFrom);
        EXPECT_EQ(window.DataAtFrom, fresh.DataAtFrom);
        EXPECT_EQ(window.GapAtFrom, fresh.GapAtFrom);
        ASSERT_EQ(window.Edges.size(), fresh.Edges.size());
        ASSERT_FALSE(window.Edges.empty());
        for (std::size_t k = 0; k < window.Edges.size(); ++k) {
            EXPECT_EQ(window.Edges[k].Time, fresh.Edges[k].Time) << k;
            EXPECT_EQ(window.Edges[k].Clock, fresh.Edges[k].Clock) << k;
            EXPECT_EQ(window.Edges[k].Data, fresh.Edges[k].Data) << k;
        }
    };
    std::size_t midFrameLow = 0; // windows from the middle of a frame with the clock low there
    for (std::size_t step = 0; step < order.size(); ++step) {
        const std::size_t i = order[step];
        SCOPED_TRACE(testing::Message() << "step " << step << ", frame " << i);
        double from = 0.0;
        double to = 0.0;
        FrameWindowSpan(store, i, from, to);
        expectSame(from, to, step % 4 == 3);
        const double clock = store.ClockHz(i) > 0.0 ? store.ClockHz(i) : 1e6;
        const double middle = store.Time(i) + (step % 2 == 0 ? 7.3 : 12.8) / clock;
        ASSERT_LT(middle, to);
        expectSame(middle, to, step % 4 == 1);
        TSignalWindow check;
        ASSERT_EQ(ReadSignalWindow(capture, middle, to, check, go, error), TLoadResult::lrOk) << error;
        midFrameLow += check.ClockAtFrom ? 0 : 1;
    }
    EXPECT_GT(midFrameLow, 0U);
}

TEST(SignalLoad, LinesReadOnGiveWhatAReadFromTheStartGives) {
    // One reader over the register sample, asked for the frames' windows in the order a user
    // steps through them: forward, the same frame again, overlapping neighbours, back to an
    // earlier frame, and after a cancelled read. Every window equals a fresh read's, with the
    // changes passed over kept (steps back served from them), a few kept, and none.
    for (const std::size_t history : {TSignalLines::DefaultHistoryEdges, std::size_t{300}, std::size_t{0}}) {
        SCOPED_TRACE(testing::Message() << history << " changes kept");
        ExpectLinesReadOnEqualFreshReads(history);
    }
}

TEST(SignalLoad, SteppingForwardReadsTheCaptureOnceAndStepsBackFromMemory) {
    // Every frame's window in capture order reads the file about once, not once a frame. Steps
    // back over the changes kept read nothing; a step back beyond them reads from the start.
    TCapture capture;
    std::string error;
    const std::string path = SamplePath("signal-registers.vcd");
    ASSERT_EQ(Load(path, capture, error), TLoadResult::lrOk) << error;
    const TCaptureStore& store = capture.Store;
    const auto size = static_cast<std::uint64_t>(fs::file_size(path));
    const std::atomic<bool> go{false};
    const auto readFrame = [&](TSignalLines& lines, std::size_t i) {
        double from = 0.0;
        double to = 0.0;
        FrameWindowSpan(store, i, from, to);
        TSignalWindow window;
        EXPECT_EQ(lines.Read(from, to, window, go, error), TLoadResult::lrOk) << error;
        EXPECT_FALSE(window.Edges.empty()) << i;
    };
    // The whole sample's changes (some 33,000) fit in the default history.
    TSignalLines lines(capture);
    for (std::size_t i = 0; i < store.Size(); ++i) {
        readFrame(lines, i);
    }
    const std::uint64_t forward = lines.BytesRead();
    EXPECT_LE(forward, size);
    EXPECT_GT(forward, size / 2);
    for (std::size_t i = store.Size(); i-- > 0;) {
        readFrame(lines, i);
    }
    EXPECT_EQ(lines.BytesRead(), forward);

    // 300 changes kept: a step back to the frame before is served, the first frame is not.
    TSignalLines few(capture, 300);
    for (std::size_t i = 0; i < store.Size(); ++i) {
        readFrame(few, i);
    }
    const std::uint64_t fewForward = few.BytesRead();
    readFrame(few, store.Size() - 2);
    EXPECT_EQ(few.BytesRead(), fewForward);
    readFrame(few, 0);
    EXPECT_GT(few.BytesRead(), fewForward);
    EXPECT_GT(few.BytesRead(), size);
}
