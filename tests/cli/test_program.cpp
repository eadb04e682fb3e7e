// The built corvane-decode run as a user runs it: exit statuses, messages, several files,
// standard input, the same records with any number of threads, and bad input that gives
// records or a message but never a crash.
#include "frames.h"
#include "programrun.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace {

namespace fs = std::filesystem;

using TRun = TProgramRun;

class Program : public TProgramFolderTest {
protected:
    // Good frames of the window's layout, one per line, different positions.
    static std::string GoodFrames(int count) {
        const TFrameLayout layout;
        std::string text;
        for (int i = 0; i < count; ++i) {
            text += MakeFrameHex(layout, 2 + i % 11, 0x2545F4914F6CDD1DULL * (i + 1), 3, 0, 64) + "\n";
        }
        return text;
    }
};

TEST_F(Program, ExitStatusesAndMessages) {
    Write("good.txt", "# four frames\n" + GoodFrames(4));
    Write("bad-crc.txt", GoodFrames(2) + "C004C9BA71743000\n");
    Write("one.txt", "C004C9BA71753000\n");
    Write("empty.txt", "");
    struct TCase {
        std::string Args;
        int Status;
        std::string Out; // part of standard output
        std::string Err; // part of standard error ("" : nothing at all)
    };
    const TCase cases[] = {
        {"good.txt", 0, "good.txt:5,", ""},
        {"bad-crc.txt", 1, "bad-crc.txt:3,C004C9BA71743000,decoded,13,", ""},
        {"empty.txt", 1, "source,input,outcome", "corvane-decode: no frames in the input"},
        {"good.txt missing.txt", 2, "", "corvane-decode: missing.txt: cannot open:"},
        {"-n 70 good.txt", 2, "", "corvane-decode: single-turn position bits: 70 is outside 1 to 64"},
        {"--scale 360/0 good.txt", 2, "", "division by zero"},
        {"--threads 0 good.txt", 2, "", "--threads: 0 is outside 1 to 64"},
        {"--help", 0, "Usage: corvane-decode", ""},
        {"--version", 0, "corvane-decode (Corvane) ", ""},
        {"--summary --format jsonl good.txt", 0, "{\"frames\":4,\"decoded\":4,", ""},
        {"--summary bad-crc.txt", 1, "CRC error              1", ""},
        {"--scan good.txt", 0, "    26  0x43     0x0        yes                4  4", ""},
        {"--scan --format jsonl one.txt", 0, "{\"length\":17,\"crc\":67,", "warning: only 1 frame"},
        {"--scan empty.txt", 1, "", "no frames in the input"},
        {"--format jsonl --scale 360/67108864:deg one.txt", 0,
         "\"count\":26440930,\"error\":false,\"warning\":false,\"crc_received\":42,"
         "\"crc_calculated\":21,\"crc_ok\":true,\"truncated\":false,\"cds\":0,\"scaled\":141.84020161628723,"
         "\"unit\":\"deg\"}", ""},
        {"one.txt good.txt", 0, "one.txt:1,C004C9BA71753000,decoded,13,0,26440930,26440930,false,"
                                "false,42,21,true,false,0\ngood.txt:2,", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Args);
        const TRun run = Run(c.Args);
        EXPECT_EQ(run.Status, c.Status) << run.Err;
        EXPECT_NE(run.Out.find(c.Out), std::string::npos) << run.Out;
        if (c.Err.empty()) {
            EXPECT_EQ(run.Err, "");
        } else {
            EXPECT_NE(run.Err.find(c.Err), std::string::npos) << run.Err;
        }
    }
}

TEST_F(Program, MessagesQuoteBinaryInputAsPrintableText) {
    // Pieces of a binary or damaged input quoted in a message: every control byte written as
    // \xNN, the message whole after a NUL, nothing that drives the terminal.
    using namespace std::string_literals;
    Write("session.sr", "PK\x03\x04\x14\x00\x00\x00\x08\x00 rest of a zip"s);
    Write("nul-header.csv", "a\x00" "b,\x1B[31mc\n1,2\n"s);
    Write("esc-value.csv", "Time [s],MA,SLO\n0,1,1\n0.1,\x1B,1\n"s);
    Write("del-token.vcd", "$timescale 1 ns $end\n$var wire 1 ! MA $end\n$var wire 1 \" SLO $end\n$enddefinitions $end\n#0 1! 1\"\n\x7F\x01\n"s);
    struct TCase {
        std::string Args;
        std::string Err; // part of standard error
    };
    const TCase cases[] = {
        {"--input vcd session.sr",
         "\"PK\\x03\\x04\\x14\\x00\\x00\\x00\\x08\\x00\" where the header expects a $ keyword"},
        {"--input csv nul-header.csv", "its columns are \"a\\x00b\", \"\\x1B[31mc\"; choose one with --column"},
        {"--input saleae-digital esc-value.csv", "the value \"\\x1B\" of MA is not 0, 1 or X"},
        {"--input vcd del-token.vcd", "\"\\x7F\\x01\" is neither a time nor a value change"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Args);
        const TRun run = Run(c.Args);
        EXPECT_EQ(run.Status, 2) << run.Err;
        EXPECT_NE(run.Err.find(c.Err), std::string::npos) << run.Err;
        ASSERT_FALSE(run.Err.empty());
        EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << run.Err;
        for (const char byte : run.Err.substr(0, run.Err.size() - 1)) {
            EXPECT_TRUE(static_cast<unsigned char>(byte) >= 0x20 && byte != 0x7F)
                << "control byte " << int(byte) << " in " << run.Err;
        }
    }
}

TEST_F(Program, BinaryExportGivenAsItsFilesIsReadOnce) {
    // Each digital_N.bin file reads its whole export: the files of one export named together
    // (as a shell's export/digital_*.bin names them) are one input; another export is another.
    for (const char* folder : {"export", "copy"}) {
        fs::copy(fs::path(CLI_CAPTURE_DATA_DIR) / "signal-biss-binary", FDir / folder);
    }
    const std::string summary = "--clock 0 --data 1 --summary --format jsonl ";
    struct TCase {
        std::string Args;
        std::string Out;    // part of standard output
        std::string NotOut; // never in standard output ("": not checked)
    };
    const TCase cases[] = {
        {summary + "export/digital_0.bin export/digital_1.bin", "{\"frames\":30,", ""},
        {summary + "export/digital_1.bin ./export/digital_0.bin export", "{\"frames\":30,", ""},
        {summary + "export copy/digital_1.bin copy/digital_0.bin", "{\"frames\":60,", ""},
        {"--clock 0 --data 1 export/digital_1.bin export/digital_0.bin", "export/digital_1.bin#31,",
         "digital_0.bin#"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Args);
        const TRun run = Run(c.Args);
        EXPECT_LE(run.Status, 1) << run.Err;
        EXPECT_EQ(run.Err, "");
        EXPECT_NE(run.Out.find(c.Out), std::string::npos) << run.Out;
        if (!c.NotOut.empty()) {
            EXPECT_EQ(run.Out.find(c.NotOut), std::string::npos) << run.Out.substr(0, 2000);
        }
    }
}

TEST_F(Program, OptionsTheInputDoesNotReadAreNotedOncePerFormat) {
    Write("a.txt", GoodFrames(2));
    Write("b.txt", GoodFrames(3));
    fs::copy_file(fs::path(CLI_CAPTURE_DATA_DIR) / "csv-frames.csv", FDir / "frames.csv");
    fs::copy_file(fs::path(CLI_CAPTURE_DATA_DIR) / "signal-biss.vcd", FDir / "signal.vcd");
    fs::copy_file(fs::path(CLI_CAPTURE_DATA_DIR) / "binary-frames.bin", FDir / "frames.bin");
    struct TCase {
        std::string Args;
        std::string Err; // standard error, whole
    };
    const std::string note = "corvane-decode: ";
    const TCase cases[] = {
        {"--clock MA a.txt", note + "a.txt: note: --clock is not used: the input is read as hex\n"},
        // Once per format, however many inputs of it follow.
        {"--column x --clock 0 --data 1 a.txt b.txt",
         note + "a.txt: note: --column, --clock and --data are not used: the input is read as hex\n"},
        {"--frame-bytes 8 frames.csv", note + "frames.csv: note: --frame-bytes is not used: the input is read as csv\n"},
        {"--frame-bytes 8 --clock 0 frames.csv a.txt b.txt",
         note + "frames.csv: note: --frame-bytes and --clock are not used: the input is read as csv\n" +
             note + "a.txt: note: --frame-bytes and --clock are not used: the input is read as hex\n"},
        {"--frame-bytes 8 --column miso signal.vcd",
         note + "signal.vcd: note: --column and --frame-bytes are not used: the input is read as vcd\n"},
        // Options the input reads: nothing to say.
        {"--column miso frames.csv", ""},
        {"--clock MA --data SLO signal.vcd", ""},
        {"--input binary --frame-bytes 8 frames.bin", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Args);
        const TRun run = Run(c.Args);
        EXPECT_LE(run.Status, 1) << run.Err;
        EXPECT_NE(run.Out, "");
        EXPECT_EQ(run.Err, c.Err);
    }
}

TEST_F(Program, StandardInputAndThreadsGiveTheSameRecords) {
    const std::string frames = GoodFrames(20000) + "not a frame\n" + GoodFrames(3);
    Write("many.txt", frames);
    const TRun one = Run("--threads 1 many.txt");
    EXPECT_EQ(one.Status, 1);
    EXPECT_NE(one.Out.find("\nmany.txt:20001,notaframe,invalid,,,,,,,,,,,\n"), std::string::npos);
    for (const std::string threads : {"2", "3", "8"}) {
        const TRun more = Run("--threads " + threads + " many.txt");
        EXPECT_EQ(more.Status, 1);
        EXPECT_EQ(more.Out, one.Out) << threads << " threads";
    }
    const TRun piped = Run("--format jsonl", frames);
    EXPECT_EQ(piped.Status, 1);
    EXPECT_EQ(piped.Out.substr(0, 15), "{\"source\":\"-:1\"");
    EXPECT_EQ(std::count(piped.Out.begin(), piped.Out.end(), '\n'), 20004);
}

TEST_F(Program, BadInputGivesRecordsOrAMessageNeverACrash) {
    std::mt19937 random(99);
    std::string garbage(200000, '\0');
    for (char& c : garbage) {
        c = static_cast<char>(random());
    }
    Write("garbage.bin", garbage);
    Write("long-line.txt", "C004C9BA71753000\n" + std::string(10 << 20, 'A') + "\nC004C9BA71753000\n");
    Write("no-column.csv", "time,mosi\n0.1,C004C9BA71753000\n");
    Write("truncated.csv", "time,miso\n0.1,C004C9BA71753000\n0.2,\"C004C9BA7175\n");
    for (const std::string args :
         {"garbage.bin", "--input hex garbage.bin", "--input sigrok garbage.bin",
          "--input csv garbage.bin", "--input saleae-spi garbage.bin", "--input saleae-table garbage.bin",
          "--input saleae-biss garbage.bin", "--input binary --frame-bytes 8 garbage.bin",
          "long-line.txt", "--format jsonl --input hex garbage.bin", "--input csv no-column.csv",
          "truncated.csv", "--summary --input hex garbage.bin", "--scan --input hex garbage.bin"}) {
        SCOPED_TRACE(args);
        const TRun run = Run(args);
        EXPECT_TRUE(run.Status == 1 || run.Status == 2) << run.Err;
        // A stopped run says why, naming the file; records of bad lines are "invalid".
        if (run.Status == 2) {
            EXPECT_EQ(run.Err.rfind("corvane-decode: ", 0), 0U) << run.Err;
            EXPECT_NE(run.Err.find(args.substr(args.rfind(' ') + 1)), std::string::npos) << run.Err;
        }
    }
    const TRun longLine = Run("long-line.txt");
    EXPECT_NE(longLine.Out.find("long-line.txt:3,C004C9BA71753000,decoded"), std::string::npos);
    EXPECT_NE(longLine.Out.find("long-line.txt:2,"), std::string::npos);
    EXPECT_LT(longLine.Out.size(), 200000U);
}

} // namespace
