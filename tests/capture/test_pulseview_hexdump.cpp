// The pulseview and hexdump readers through their factories: inline texts table-driven (LF
// and CR LF, reads of 1, 2, 3, 7 bytes or everything, batches of 1, 3 and 1000 frames), the
// sample files, real output of hexdump -C and xxd, bad input, and the recognition rules.
#include "capturetest.h"
#include "capture/formats/hexdump.h"
#include "capture/formats/pulseview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// A format as the tests name it to OpenCaptureReader.
using TFactory = const char*;

// Reads all of `input` as `format`, as ReadCapture reads it.
TReadResult ReadWith(TFactory format, const std::string& input, TReaderOptions options,
                     std::size_t pieceBytes = SIZE_MAX, std::size_t maxFrames = 1000) {
    options.Format = format;
    return ReadCapture(input, options, pieceBytes, maxFrames);
}

struct TCase {
    const char* Name;
    std::uint32_t FrameBytes;
    std::string Input;
    std::vector<TReadFrame> Frames;
    std::string Column = "";
};

void RunCases(TFactory factory, const std::vector<TCase>& cases) {
    for (const TCase& c : cases) {
        for (const std::string& input : {c.Input, WithCrLf(c.Input)}) {
            for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, SIZE_MAX}) {
                for (const std::size_t batch : {std::size_t{1}, std::size_t{3}, std::size_t{1000}}) {
                    SCOPED_TRACE(::testing::Message() << c.Name << (input == c.Input ? " (LF)" : " (CRLF)")
                                                      << ", piece " << piece << ", batch " << batch);
                    const TReadResult result =
                        ReadWith(factory, input, Options("auto", c.Column, c.FrameBytes), piece, batch);
                    EXPECT_EQ(result.Frames, c.Frames);
                    EXPECT_EQ(result.BytesConsumed, input.size());
                }
            }
        }
    }
}

// The error a reader stops with: its line and a part of its message.
void ExpectError(TFactory factory, const std::string& input, const TReaderOptions& options, std::uint64_t line,
                 const std::string& part) {
    SCOPED_TRACE(input.substr(0, 60));
    try {
        ReadWith(factory, input, options);
        ADD_FAILURE() << "no error";
    } catch (const TInputError& error) {
        EXPECT_EQ(error.Line(), line) << error.what();
        EXPECT_NE(std::string(error.what()).find(part), std::string::npos) << error.what();
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file.good()) << path;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The first non-blank lines of a text, trimmed, at most 16, as the recognition rules get them.
std::vector<std::string> FirstLines(std::string text) {
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        text.erase(0, 3);
    }
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size() && lines.size() < 16) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, end - at);
        const std::size_t first = line.find_first_not_of(" \t\r\v\f");
        if (first != std::string::npos) {
            const std::size_t last = line.find_last_not_of(" \t\r\v\f");
            lines.push_back(line.substr(first, last - first + 1));
        }
        at = end + 1;
    }
    return lines;
}

bool Claims(bool (*predicate)(const std::vector<std::string_view>&), const std::string& text) {
    const std::vector<std::string> lines = FirstLines(text);
    return predicate(std::vector<std::string_view>(lines.begin(), lines.end()));
}

// The frames of the sample files, as tests/data/captures/README.md lists them.
const std::vector<std::string> F = {"C004C9BA71753000", "C0040000007D3000", "C005FFFFFFF13000",
                                    "C00491A2B3B6B000", "C004C9BA71D2B000", "C0055555556AB000"};

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// ---------------------------------------------------------------------------------------------

TEST(PulseViewReader, ReadsTheChosenDataLine) {
    const std::string all = "20-83 SPI: MISO data: C0\n"
                            "84-147 SPI: MISO data: 04\n"
                            "148-211 SPI: MISO data: C9\n"
                            "20-83 SPI: MOSI data: FF\n"
                            "20-27 SPI: MISO bits: 1\n"
                            "20-540 SPI: MISO transfers: C0 04 C9\n"
                            "20-540 SPI: MOSI transfers: FF FF FF\n"
                            "600-900 SPI: Warnings: CS# was deasserted during this data word!\n"
                            "1540-2060 SPI: MISO transfers: C0 05\n";
    RunCases("pulseview",
             {
                 {"transfers: a frame each; data, bits, MOSI and warnings ignored", 0, all,
                  {Hex(6, "C004C9"), Hex(9, "C005")}},
                 {"--column mosi", 0, all, {Hex(7, "FFFFFF")}, "MOSI"},
                 {"--frame-bytes: the data lines met first are cut, the transfers ignored", 2, all,
                  {Hex(1, "C004"), Invalid(3, "C9")}},
                 {"--frame-bytes: transfers met first are one stream of bytes", 2,
                  "1-9 SPI: MISO transfers: C0 04 C9\n1-2 SPI: MISO data: AA\n10-19 SPI: MISO transfers: BA 71 75\n",
                  {Hex(1, "C004"), Hex(1, "C9BA"), Hex(3, "7175")}},
                 {"with %q every field in quotes", 0,
                  "20-540 \"SPI\": \"MISO transfers\": \"C0 04 C9\"\n20-83 \"SPI\": \"MISO data\": \"C0\"\n",
                  {Hex(1, "C004C9")}},
                 {"class names, singular, no sample range, any case", 0,
                  "SPI: MISO transfer: C0 04\n1-2 SPI: miso-transfer: c9\n3-4 SPI: Miso_Transfers: BA\n",
                  {Hex(1, "C004"), Hex(2, "c9"), Hex(3, "BA")}},
                 {"odd spacing: indented, tabs, blanks around the text, blank lines", 2,
                  "  20-83\tSPI: MISO data:   C0  \n\n\t84-147 SPI: MISO data: 04\t\n   \n",
                  {Hex(1, "C004")}},
                 {"words wider than a byte kept as written", 0, "1-2 SPI: MISO transfers: C004 C9BA\n",
                  {Hex(1, "C004C9BA")}},
                 {"unreadable lines and texts are invalid frames", 0,
                  "garbage\n1-2 SPI: MISO transfers: C0 zz\n3-4 SPI: MISO transfers:\n5-6 SPI: MISO transfers: D1\n",
                  {Invalid(1, "garbage"), Invalid(2, "1-2 SPI: MISO transfers: C0 zz"),
                   Invalid(3, "3-4 SPI: MISO transfers:"), Hex(4, "D1")}},
                 {"--frame-bytes: an unreadable line ends the frame being cut", 2,
                  "1-2 SPI: MISO data: C0\n3-4 SPI: MISO data: ??\n5-6 SPI: MISO data: C9\n7-8 SPI: MISO data: BA\n",
                  {Invalid(1, "C0 3-4 SPI: MISO data: ??"), Hex(3, "C9BA")}},
                 {"empty", 0, "", {}},
             });
}

TEST(PulseViewReader, SaysWhatToDoWhenTheExportDoesNotFit) {
    const std::string data = "1-2 SPI: MISO bits: 1\n20-83 SPI: MISO data: C0\n84-147 SPI: MISO data: 04\n";
    ExpectError("pulseview", data, Options("auto"), 2, "give --frame-bytes");
    ExpectError("pulseview",
                "1-2 I\xC2\xB2" "C: Address/data: Start\n3-9 I\xC2\xB2" "C: Address/data: Data write: 00\n"
                "3-9 I\xC2\xB2" "C: Warnings: Ignoring\n",
                Options("auto"), 0, "its rows are \"Address/data\", \"Warnings\"; choose the data line with --column");
    ExpectError("pulseview", data, Options("auto", "cs"), 0, "no annotations of the CS data line");
    ExpectError("pulseview", data, Options("auto", "", MaxFrameBytes + 1), 0, "--frame-bytes");
    // Lines that are no annotations at all are invalid frames, not a missing data line.
    EXPECT_EQ(ReadWith("pulseview", "hello\n", Options("auto")).Frames,
              std::vector<TReadFrame>{Invalid(1, "hello")});
}

TEST(PulseViewReader, OverlongLinesOfTheDataLineAreInvalidOthersIgnored) {
    const std::string bytes(70000, 'A');
    const std::string input = "1-2 SPI: MISO transfers: " + bytes + "\n3-4 SPI: MOSI transfers: " + bytes +
                              "\n5-6 SPI: MISO transfers: C0\n";
    const TReadResult result = ReadWith("pulseview", input, Options("auto"), 4096);
    ASSERT_EQ(result.Frames.size(), 2U);
    EXPECT_EQ(result.Frames[0].Kind, TCaptureKind::ckInvalid);
    EXPECT_EQ(result.Frames[0].Line, 1U);
    EXPECT_EQ(result.Frames[0].Input.substr(0, 24), "1-2 SPI: MISO transfers:");
    EXPECT_EQ(result.Frames[0].Input.substr(result.Frames[0].Input.size() - 3), "...");
    EXPECT_EQ(result.Frames[1], Hex(3, "C0"));
}

// ---------------------------------------------------------------------------------------------

TEST(HexdumpReader, ReadsDumpLinesAndExpandsRepeats) {
    RunCases("hexdump",
             {
                 {"hexdump -C with a * run and the closing offset", 8,
                  "00000000  c0 04 c9 ba 71 75 30 00  c0 04 00 00 00 7d 30 00  |....qu0......}0.|\n"
                  "00000010  aa bb cc dd ee ff 00 11  aa bb cc dd ee ff 00 11  |................|\n"
                  "*\n"
                  "00000040  c0 04 01                                          |...|\n"
                  "00000043\n",
                  {Hex(1, "c004c9ba71753000"), Hex(1, "c0040000007d3000"), Hex(2, "aabbccddeeff0011"),
                   Hex(2, "aabbccddeeff0011"), Hex(3, "aabbccddeeff0011"), Hex(3, "aabbccddeeff0011"),
                   Hex(3, "aabbccddeeff0011"), Hex(3, "aabbccddeeff0011"), Invalid(4, "c00401")}},
                 {"a frame's line is the line of its first byte", 12,
                  "00000000  00 01 02 03 04 05 06 07  08 09 0a 0b 0c 0d 0e 0f  |................|\n"
                  "00000010  10 11 12 13 14 15 16 17  |........|\n",
                  {Hex(1, "000102030405060708090a0b"), Hex(1, "0c0d0e0f1011121314151617")}},
                 {"xxd: groups of two bytes, a short last line", 4,
                  "00000000: c004 c9ba 7175 3000 c004 0000 007d 3000  ....qu0......}0.\n"
                  "00000010: 3132 33                                  123\n",
                  {Hex(1, "c004c9ba"), Hex(1, "71753000"), Hex(1, "c0040000"), Hex(1, "007d3000"), Invalid(2, "313233")}},
                 {"xxd -a: a * run of zero lines", 16,
                  "00000000: 0000 0000 0000 0000 0000 0000 0000 0000  ................\n"
                  "*\n"
                  "00000030: 0000 0000 0000 0000 0000 0000 0000 0000  ................\n"
                  "00000040: 4142                                     AB\n",
                  {Hex(1, std::string(32, '0')), Hex(2, std::string(32, '0')), Hex(2, std::string(32, '0')),
                   Hex(3, std::string(32, '0')), Invalid(4, "4142")}},
                 {"xxd -g1 -c8 -u, ASCII that looks like hex", 3,
                  "00000000: C0 04 C9 BA 71 75 30 00  ....qu0.\n00000008: 63 61 66 65  cafe\n",
                  {Hex(1, "C004C9"), Hex(1, "BA7175"), Hex(1, "300063"), Hex(2, "616665")}},
                 {"xxd -g4 and an ASCII column of blanks", 2, "00000000: 41424344 20202020  ABCD    \n",
                  {Hex(1, "4142"), Hex(1, "4344"), Hex(1, "2020"), Hex(1, "2020")}},
                 {"odd spacing: indented, tabs, no ASCII column, blank lines", 4,
                  "\t00000000   c0  04 c9\tba  \n\n  00000004\t71 75 30 00|ASCII|\n",
                  {Hex(1, "c004c9ba"), Hex(3, "71753000")}},
                 {"a dump that starts at an offset (hexdump -s)", 2, "00000010  01 02 03 04  |....|\n00000014\n",
                  {Hex(1, "0102"), Hex(1, "0304")}},
                 {"empty", 8, "", {}},
             });
}

TEST(HexdumpReader, KeepsFramesInPlaceAroundUnreadableLines) {
    RunCases("hexdump",
             {
                 {"a line inside a frame: that frame and the rest of it invalid, the next in place", 4,
                  "00000000  01 02 03 04 05 06  |......|\n"
                  "junk\n"
                  "00000006  07 08 09 0a 0b 0c  |......|\n",
                  {Hex(1, "01020304"), Invalid(1, "0506 junk"), Invalid(3, "0708"), Hex(3, "090a0b0c")}},
                 {"a line at a frame boundary: an invalid frame of its own", 2,
                  "$ hexdump -C capture.bin\n00000000  01 02 03 04  |....|\n# end\n00000004  05 06  |..|\n",
                  {Invalid(1, "$ hexdump -C capture.bin"), Hex(2, "0102"), Hex(2, "0304"), Invalid(3, "# end"),
                   Hex(4, "0506")}},
                 {"two lines inside one frame", 4,
                  "00000000  01 02 03 04 05  |.....|\nxx\n00000005  06  |.|\nyy\n00000006  07 08 09 0a  |....|\n",
                  {Hex(1, "01020304"), Invalid(1, "05 xx"), Invalid(3, "06 yy"), Invalid(5, "0708"),
                   Invalid(5, "090a")}},
                 {"a * with nothing before it, a * at the end", 2,
                  "*\n00000000  01 02 03  |...|\n*\n",
                  {Invalid(1, "*"), Hex(2, "0102"), Invalid(2, "03 *")}},
                 {"plain hexdump's 16-bit words are not bytes", 2, "0000000 04c0 bac9\n",
                  {Invalid(1, "0000000 04c0 bac9")}},
             });
}

TEST(HexdumpReader, StopsWhereBytesAreMissing) {
    const TReaderOptions options = Options("auto", "", 8);
    ExpectError("hexdump", "00000000  01 02  |..|\n", Options("auto"), 0, "--frame-bytes");
    ExpectError("hexdump", "00000000  01 02  |..|\n", Options("auto", "", MaxFrameBytes + 1), 0,
                "--frame-bytes");
    ExpectError("hexdump",
                "00000000  00 01 02 03 04 05 06 07  08 09 0a 0b 0c 0d 0e 0f  |................|\n"
                "00000020  00 01 02 03 04 05 06 07  08 09 0a 0b 0c 0d 0e 0f  |................|\n",
                options, 2, "offset 0x00000020 where 0x00000010 was due");
    ExpectError("hexdump", "00000000: 0102 0304  ....\n00000002: 0506  ..\n", options, 2,
                "lines are missing or out of order");
    ExpectError("hexdump",
                "00000000  00 01 02 03 04 05 06 07  08 09 0a 0b 0c 0d 0e 0f  |................|\n*\n00000018\n",
                options, 3, "do not end at offset 0x00000018");
    ExpectError("hexdump", "00000000  00 01  |..|\n*\n00000002\n", options, 3, "do not end");
}

TEST(HexdumpReader, ExpandsALongRunOfRepeatsInBoundedBatches) {
    // 64 MiB of zeros: hexdump -C writes three lines for them.
    const std::string input = "00000000  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  |................|\n"
                              "*\n"
                              "04000000\n";
    TMemoryByteSource source(input);
    const std::unique_ptr<TCaptureReader> reader = OpenCaptureReader(source, Options("hexdump", "", 4096));
    TCaptureBatch batch;
    std::size_t frames = 0;
    std::size_t mostText = 0;
    while (reader->ReadBatch(batch, 100)) {
        for (const TCaptureFrame& frame : batch.Frames) {
            ASSERT_EQ(frame.Kind, TCaptureKind::ckHex);
            ASSERT_EQ(frame.Line, frames == 0 ? 1U : 2U); // the first holds line 1's bytes
            ++frames;
        }
        mostText = std::max(mostText, batch.Text.size());
        batch.Clear();
    }
    EXPECT_EQ(frames, 64U * 1024 * 1024 / 4096);
    EXPECT_LE(mostText, 100U * 8192);
}

// ---------------------------------------------------------------------------------------------

TEST(PulseViewHexdumpSamples, ReadAsTheReadmeSays) {
    const std::string dir = CAPTURE_DATA_DIR;
    std::vector<TReadFrame> transfers;
    for (std::size_t i = 0; i < F.size(); ++i) {
        transfers.push_back(Hex(97 + i, F[i])); // after 48 MISO and 48 MOSI data lines
    }
    std::vector<TReadFrame> cut;
    for (std::size_t i = 0; i < F.size(); ++i) {
        cut.push_back(Hex(1 + 8 * i, F[i]));
    }
    std::vector<TReadFrame> dumpC = {Hex(1, Lower(F[0])), Hex(1, Lower(F[1])), Hex(2, Lower(F[2])),
                                     Hex(2, Lower(F[3])), Hex(3, Lower(F[4])), Hex(3, Lower(F[5]))};
    std::vector<TReadFrame> dumpX = dumpC;
    for (int i = 0; i < 6; ++i) {
        // Two frames on the 0x30 line, four in the run of the * line (hexdump -C) or on two
        // lines (xxd).
        dumpC.push_back(Hex(i < 2 ? 4 : 5, Lower(F[0])));
        dumpX.push_back(Hex(4 + i / 2, Lower(F[0])));
    }
    dumpC.push_back(Invalid(6, "c00401"));
    dumpX.push_back(Invalid(7, "c00401"));

    for (const std::string& text : {std::string("as stored"), std::string("CR LF")}) {
        SCOPED_TRACE(text);
        auto file = [&](const char* name) {
            const std::string stored = ReadFile(dir + "/" + name);
            return text == "CR LF" ? WithCrLf(stored) : stored;
        };
        EXPECT_EQ(ReadWith("pulseview", file("pulseview-all.txt"), Options("auto")).Frames,
                  transfers);
        EXPECT_EQ(ReadWith("pulseview", file("pulseview-all.txt"), Options("auto", "", 8)).Frames,
                  cut);
        EXPECT_EQ(ReadWith("pulseview", file("pulseview-data.txt"), Options("auto", "", 8), 5)
                      .Frames,
                  cut);
        EXPECT_EQ(ReadWith("hexdump", file("hexdump-frames.txt"), Options("auto", "", 8), 3)
                      .Frames,
                  dumpC);
        EXPECT_EQ(ReadWith("hexdump", file("xxd-frames.txt"), Options("auto", "", 8), 3).Frames,
                  dumpX);
    }
}

#ifndef _WIN32
// Runs a command and returns what it printed; false when it could not be run.
bool RunTool(const std::string& command, std::string& output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return false;
    }
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, n);
    }
    return pclose(pipe) == 0;
}

TEST(PulseViewHexdumpSamples, RealHexdumpAndXxdOutputGivesTheBytesBack) {
    // Random bytes with runs of equal lines, so that hexdump -C and xxd -a write "*" lines.
    std::mt19937 random(20240611);
    std::string bytes;
    for (int block = 0; block < 40; ++block) {
        if (block == 20) {
            bytes.append(128, '\0'); // lines of zeros whatever the line width
        }
        const int kind = static_cast<int>(random() % 3);
        const std::size_t length = 1 + random() % 100;
        if (kind == 0) {
            bytes.append(length, '\0');
        } else if (kind == 1) {
            bytes.append(16 * (1 + random() % 5), static_cast<char>(random()));
        } else {
            for (std::size_t i = 0; i < length; ++i) {
                bytes.push_back(static_cast<char>(random()));
            }
        }
    }
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("corvane-dump-" + std::to_string(::getpid()) + ".bin");
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

    // The frames the binary reader cuts from the same bytes, in lowercase as the dumps write.
    constexpr std::uint32_t frameBytes = 7;
    std::vector<std::string> expected;
    for (std::size_t at = 0; at < bytes.size(); at += frameBytes) {
        std::string digits;
        for (std::size_t i = at; i < std::min(bytes.size(), at + frameBytes); ++i) {
            constexpr char hex[] = "0123456789abcdef";
            digits += hex[static_cast<unsigned char>(bytes[i]) >> 4];
            digits += hex[static_cast<unsigned char>(bytes[i]) & 15];
        }
        expected.push_back(digits);
    }

    int ran = 0;
    for (const char* tool : {"hexdump -C", "xxd", "xxd -a", "xxd -u -g1 -c 13", "xxd -a -g 4 -c 32"}) {
        SCOPED_TRACE(tool);
        std::string dump;
        if (!RunTool(std::string(tool) + " '" + path.string() + "' 2>/dev/null", dump)) {
            continue;
        }
        ++ran;
        if (std::string(tool).find("-C") != std::string::npos || std::string(tool).find("-a") != std::string::npos) {
            EXPECT_NE(dump.find("\n*\n"), std::string::npos) << "no repeats to expand";
        }
        const TReadResult result =
            ReadWith("hexdump", dump, Options("auto", "", frameBytes), 5, 50);
        ASSERT_EQ(result.Frames.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(Lower(result.Frames[i].Input), expected[i]) << "frame " << i;
            const bool whole = expected[i].size() == 2 * frameBytes;
            EXPECT_EQ(result.Frames[i].Kind, whole ? TCaptureKind::ckHex : TCaptureKind::ckInvalid) << "frame " << i;
        }
        const std::vector<std::string> lines = FirstLines(dump);
        EXPECT_TRUE(LooksLikeHexdump(std::vector<std::string_view>(lines.begin(), lines.end())));
    }
    std::filesystem::remove(path);
    if (ran == 0) {
        GTEST_SKIP() << "neither hexdump nor xxd could be run";
    }
}
#endif

// ---------------------------------------------------------------------------------------------

TEST(PulseViewHexdumpRecognition, EachClaimsItsOwnAndNoOtherSample) {
    const std::string dir = CAPTURE_DATA_DIR;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name == "README.md" || !entry.is_regular_file()) {
            continue;
        }
        SCOPED_TRACE(name);
        const std::string text = ReadFile(entry.path().string());
        const bool pulseview = name.rfind("pulseview-", 0) == 0;
        const bool dump = name.rfind("hexdump-", 0) == 0 || name.rfind("xxd-", 0) == 0;
        EXPECT_EQ(Claims(LooksLikePulseView, text), pulseview);
        EXPECT_EQ(Claims(LooksLikeHexdump, text), dump);
    }
}

TEST(PulseViewHexdumpRecognition, LooksAtTheShapeOfTheFirstLines) {
    struct TLines {
        const char* Text;
        bool PulseView;
        bool Hexdump;
    };
    const std::vector<TLines> cases = {
        {"26-58 SPI: MISO data: C0\n", true, false},
        {"26-58 \"SPI\": \"MISO data\": \"C0\"\n", true, false},
        {"26-58 I\xC2\xB2" "C: Address/data: Start\n", true, false},
        {"SPI: MISO data: C0\n", false, false},                         // no sample range
        {"20-540 spi-1: MISO transfer: \"C0 04\"\n", false, false},    // sigrok-cli -l 4
        {"20-540 spi-1: \"C0 04\"\n", false, false},                   // sigrok-cli -l 3
        {"AB: CD: EF\n", false, false},                                // hex with separators
        {"00000000  c0 04  |..|\n00000002\n", false, true},
        {"00000000: c004  ..\n", false, true},
        {"00000000  c0 04  |..|\n*\n00000010  00  |.|\n", false, true},
        {"00000000  c0 04  |..|\n00000004  00  |.|\n", false, false},  // offsets that do not follow on
        {"00000000  c0 04  |..|\nC0 04\n", false, false},              // a line that is no dump line
        {"00000000\n", false, false},                                  // no byte
        {"*\n00000000  c0  |.|\n", false, false},
        {"C0 04 C9 BA 71 75 30 00\n", false, false},                   // hex frames
        {"0000 c0 04\n", false, false},                                // offset too short
        {"0000000 04c0 bac9\n", false, false},                         // plain hexdump's words
        {"", false, false},
    };
    for (const TLines& c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(Claims(LooksLikePulseView, c.Text), c.PulseView);
        EXPECT_EQ(Claims(LooksLikeHexdump, c.Text), c.Hexdump);
        EXPECT_EQ(Claims(LooksLikeHexdump, WithCrLf(c.Text)), c.Hexdump);
    }
}

TEST(PulseViewHexdumpRobustness, RandomBytesNeverBreakTheReaders) {
    std::mt19937 random(7);
    const char alphabet[] = "0123456789abcdefABCDEF :|*-\"\n\t\rSPIMOdatrnsfx";
    for (int round = 0; round < 300; ++round) {
        std::string input;
        const std::size_t length = random() % 400;
        for (std::size_t i = 0; i < length; ++i) {
            input.push_back(round % 2 == 0 ? alphabet[random() % (sizeof alphabet - 1)] : static_cast<char>(random()));
        }
        for (const TFactory factory : {"pulseview", "hexdump"}) {
            for (const std::uint32_t frameBytes : {1U, 3U}) {
                try {
                    const TReadResult result =
                        ReadWith(factory, input, Options("auto", "", frameBytes), 1 + random() % 9, 4);
                    EXPECT_EQ(result.BytesConsumed, input.size());
                } catch (const TInputError&) {
                    // a stop with a message is a sound answer to garbage
                }
            }
        }
    }
}

} // namespace
