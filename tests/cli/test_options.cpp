// The command line: what each option sets, and which mistakes are usage errors (status 2,
// a message) rather than runs.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct TCase {
    std::vector<std::string> Args;
    int Status; // -1: the options are accepted
    std::string Message; // part of the output (status 0) or of the error (status 2)
    std::function<bool(const TProgramOptions&)> Check = nullptr;
};

TEST(Options, TableOfCommandLines) {
    const TCase cases[] = {
        {{}, -1, "", [](const TProgramOptions& o) {
             const TFrameLayoutParams& l = o.Layout;
             return l.PositionBits == 26 && l.MultiTurnBits == 0 && l.StatusBits == 2 &&
                    l.CrcPolynomial == 0x43 && l.CrcStart == 0 && l.CrcInverted && !l.Signed &&
                    l.Coding == TPositionCoding::pcBinary && !o.Scale.Enabled && !o.FormatGiven &&
                    o.Mode == TRunMode::rmRecords && o.Threads == 0 && o.Files.empty() &&
                    o.Reader.Format == "auto";
         }},
        {{"-n", "0x1A", "--multiturn", "12", "--status-bits", "1", "--crc", "0x190D9",
          "--crc-start", "0X1F", "--crc-not-inverted", "--gray", "--signed", "a.txt", "-"},
         -1, "", [](const TProgramOptions& o) {
             const TFrameLayoutParams& l = o.Layout;
             return l.PositionBits == 26 && l.MultiTurnBits == 12 && l.StatusBits == 1 &&
                    l.CrcPolynomial == 0x190D9 && l.CrcStart == 0x1F && !l.CrcInverted &&
                    l.Signed && l.Coding == TPositionCoding::pcGray && o.CrcGiven &&
                    o.Files == std::vector<std::string>{"a.txt", "-"};
         }},
        // Names that begin with a slash are files on every system, never Windows-style options.
        {{"/n:70", "/help", "/captures/run 1.csv"}, -1, "", [](const TProgramOptions& o) {
             return o.Layout.PositionBits == 26 &&
                    o.Files == std::vector<std::string>{"/n:70", "/help", "/captures/run 1.csv"};
         }},
        // A leading zero is decimal, never octal.
        {{"--length", "010"}, -1, "", [](const TProgramOptions& o) { return o.Layout.PositionBits == 10; }},
        {{"--input", "saleae-spi", "--column", "MOSI", "--frame-bytes", "8", "--format", "jsonl",
          "--summary", "--threads", "3"},
         -1, "", [](const TProgramOptions& o) {
             return o.Reader.Format == "saleae-spi" && o.Reader.Column == "MOSI" &&
                    o.Reader.FrameBytes == 8 && o.Format == TOutputFormat::ofJsonl && o.FormatGiven &&
                    o.Mode == TRunMode::rmSummary && o.Threads == 3;
         }},
        {{"--scan", "--crc", "0x1E", "--crc-start", "5"}, -1, "", [](const TProgramOptions& o) {
             return o.Mode == TRunMode::rmScan && o.CrcGiven && o.Layout.CrcPolynomial == 0x1E;
         }},
        {{"--help"}, 0, "Usage: corvane-decode [OPTIONS] [FILE...]"},
        {{"--version"}, 0, "corvane-decode (Corvane) "},
        // Layouts the core rejects, with its message.
        {{"-n", "70"}, 2, "single-turn position bits: 70 is outside 1 to 64"},
        {{"-n", "40", "--multiturn", "30"}, 2, "= 70 is more than 64"},
        {{"--status-bits", "3"}, 2, "status bits: 3"},
        {{"--crc", "1"}, 2, "CRC polynomial 0x1 is not of degree 1 to 16"},
        {{"--crc-start", "0x40"}, 2, "does not fit in the 6-bit CRC"},
        // Numbers.
        {{"-n", "abc"}, 2, "--length: \"abc\" is not a number"},
        {{"-n", "-5"}, 2, "--length"},
        {{"-n", "0x"}, 2, "not a number"},
        {{"-n", "99999999999999999999999"}, 2, "not a number"},
        {{"--threads", "0"}, 2, "--threads: 0 is outside 1 to 64"},
        {{"--frame-bytes", "33"}, 2, "--frame-bytes: 33 is outside 1 to 32"},
        // Names.
        {{"--input", "excel"}, 2, "--input: \"excel\" is not one of"},
        {{"--format", "xml"}, 2, "--format: \"xml\" is not one of csv, jsonl, table"},
        {{"--bogus"}, 2, "Run corvane-decode --help for the options."},
        {{"--length"}, 2, "--length"},
        // Modes that do not go together.
        {{"--summary", "--scan"}, 2, "choose one"},
        {{"--scan", "-n", "20"}, 2, "--length does not go with --scan"},
        {{"--scan", "--scale", "1/1"}, 2, "--scale does not go with --scan"},
        {{"--scan", "--crc-start", "0x10000"}, 2, "does not fit in any CRC the scan tries"},
        // Scales.
        {{"--scale", "360/0"}, 2, "division by zero"},
        {{"--scale", "0/360"}, 2, "is zero"},
        {{"--scale", "1e308/1e-308"}, 2, "not finite"},
        {{"--scale", "360"}, 2, "is not NUM/DEN[:UNIT]"},
        {{"--scale", "inf/1"}, 2, "is not NUM/DEN[:UNIT]"},
        {{"--scale", "nan/1:deg"}, 2, "is not NUM/DEN[:UNIT]"},
        {{"--scale", "1e300/1", "-n", "64"}, 2, "too large"},
        // Every number option reads a leading zero as decimal and takes 0x.
        {{"--crc-start", "010", "--frame-bytes", "010", "--threads", "010", "--multiturn", "010",
          "--status-bits", "01", "--crc", "0x43"},
         -1, "", [](const TProgramOptions& o) {
             return o.Layout.CrcStart == 10 && o.Reader.FrameBytes == 10 && o.Threads == 10 &&
                    o.Layout.MultiTurnBits == 10 && o.Layout.StatusBits == 1 && o.CrcGiven;
         }},
        {{"--threads", "0x40"}, -1, "", [](const TProgramOptions& o) { return o.Threads == 64; }},
        {{"--threads", "0x41"}, 2, "--threads: 0x41 is outside 1 to 64"},
        {{"--frame-bytes", "1.5"}, 2, "--frame-bytes: \"1.5\" is not a number"},
        {{"--crc", "0x100000000"}, 2, "--crc: 0x100000000 is outside 0 to 4294967295"},
        {{"--format", "CSV"}, 2, "--format: \"CSV\" is not one of csv, jsonl, table"},
        // Signal captures' channels: plain text, checked by the reader.
        {{"--clock", "MA", "--data", "3"}, -1, "", [](const TProgramOptions& o) {
             return o.Reader.ClockChannel == "MA" && o.Reader.DataChannel == "3";
         }},
        {{"--input", "hex"}, -1, "", [](const TProgramOptions& o) {
             return o.Reader.Format == "hex" && o.Reader.ClockChannel.empty();
         }},
        // The register accesses: not with --scan; with --summary the register map.
        {{"--registers", "--scan"}, 2, "choose one"},
        {{"--scan", "--registers"}, 2, "choose one"},
        {{"--registers"}, -1, "", [](const TProgramOptions& o) { return o.Mode == TRunMode::rmRegisters; }},
        {{"--registers", "--summary"}, -1, "", [](const TProgramOptions& o) {
             return o.Mode == TRunMode::rmRegisterMap;
         }},
        {{"--summary", "--registers", "--format", "jsonl"}, -1, "", [](const TProgramOptions& o) {
             return o.Mode == TRunMode::rmRegisterMap && o.Format == TOutputFormat::ofJsonl;
         }},
        {{"--summary", "--format", "jsonl"}, -1, "", [](const TProgramOptions& o) {
             return o.Mode == TRunMode::rmSummary && o.Format == TOutputFormat::ofJsonl;
         }},
    };
    for (const TCase& c : cases) {
        std::string joined;
        for (const std::string& arg : c.Args) {
            joined += arg + " ";
        }
        SCOPED_TRACE(joined);
        TProgramOptions options;
        const TParseResult result = ParseCommandLine(c.Args, options);
        if (c.Status < 0) {
            EXPECT_TRUE(result.Run) << result.Error;
            ASSERT_TRUE(c.Check);
            EXPECT_TRUE(c.Check(options));
            continue;
        }
        EXPECT_FALSE(result.Run);
        EXPECT_EQ(result.ExitStatus, c.Status);
        const std::string& text = c.Status == 0 ? result.Output : result.Error;
        EXPECT_NE(text.find(c.Message), std::string::npos) << text;
        EXPECT_EQ(c.Status == 0, result.Error.empty());
    }
}

TEST(Options, ScalesReadAsTheWindowComputesThem) {
    struct TScaleCase {
        std::string Text;
        double Factor;
        std::string Unit;
    };
    const TScaleCase cases[] = {
        {"360/67108864:deg", 360.0 / 67108864.0, "deg"},
        {"-360/67108864", -360.0 / 67108864.0, ""},
        {"1.5/0.5:mm", 1.5 / 0.5, "mm"},
        {"0x10/4:", 4.0, ""},
        {"+2e3/8:a:b", 2000.0 / 8.0, "a:b"},
        {".5/1:°", 0.5, "°"},
    };
    for (const TScaleCase& c : cases) {
        TScale scale;
        std::string error;
        ASSERT_TRUE(ParseScaleText(c.Text, scale, error)) << c.Text << ": " << error;
        EXPECT_TRUE(scale.Enabled);
        EXPECT_EQ(scale.Factor, c.Factor) << c.Text;
        EXPECT_EQ(scale.Unit, c.Unit) << c.Text;
    }
}

} // namespace
