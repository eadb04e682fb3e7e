// The sample captures in tests/data/captures (see its README for where each format comes
// from): every file read with its format named and recognised, as stored and with CR LF line
// ends, through small and large reads.
#include "capturetest.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string ReadFile(const std::string& name) {
    std::ifstream file(std::string(CAPTURE_DATA_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(file.good()) << name;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The frames of the samples, as the README lists them.
const std::vector<std::string> F = {"C004C9BA71753000", "C0040000007D3000", "C005FFFFFFF13000",
                                    "C00491A2B3B6B000", "C004C9BA71D2B000", "C0055555556AB000"};

std::vector<TReadFrame> HexFrames(const std::vector<std::uint64_t>& lines) {
    std::vector<TReadFrame> frames;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        frames.push_back(Hex(lines[i], F[i]));
    }
    return frames;
}

std::vector<TReadFrame> BissFrames(const std::vector<std::string>& inputs) {
    const std::uint64_t values[] = {0x19374E2, 0, 0x3FFFFFF, 0x1234567, 0x19374E3, 0x2AAAAAA};
    const std::uint8_t status[] = {3, 3, 3, 1, 2, 3};
    const std::uint16_t crcs[] = {0x2A, 0x3A, 0x22, 0x2D, 0x25, 0x15};
    std::vector<TReadFrame> frames;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        frames.push_back(Biss(i + 2, inputs[i], values[i], status[i], crcs[i]));
    }
    return frames;
}

struct TSample {
    const char* File;
    std::string Format;
    std::uint32_t FrameBytes;
    std::vector<TReadFrame> Frames;
};

TEST(SampleFiles, ReadEveryFormat) {
    std::vector<TReadFrame> hexFile = {Hex(2, F[0]), Hex(4, F[1]), Hex(6, F[2]), Hex(7, "c00491a2b3b6b000"),
                                       Hex(8, F[4]), Hex(9, F[5])};
    std::vector<TReadFrame> csvFile = {Hex(2, F[0]), Hex(3, F[1]), Hex(4, F[2]), Hex(6, F[3]),
                                       Hex(7, F[4]), Invalid(8, "6,short"), Hex(9, F[5])};
    std::vector<TReadFrame> tsvFile = csvFile;
    tsvFile[5] = Invalid(8, "6\tshort");
    std::vector<TReadFrame> binaryFile = HexFrames({1, 2, 3, 4, 5, 6});
    binaryFile.push_back(Invalid(7, "C00401"));
    const std::vector<TSample> samples = {
        {"hex-frames.txt", "hex", 0, hexFile},
        {"hex-frames-crlf.txt", "hex", 0, hexFile},
        {"csv-frames.csv", "csv", 0, csvFile},
        {"csv-frames.tsv", "csv", 0, tsvFile},
        {"saleae-table.csv", "saleae-table", 0, HexFrames({2, 12, 22, 36, 46, 56})},
        {"saleae-table-64bit.csv", "saleae-table", 0, HexFrames({2, 3, 4, 5, 6, 7})},
        {"saleae-table-decimal.csv", "saleae-table", 0, HexFrames({2, 12, 22})},
        {"saleae-spi.csv", "saleae-spi", 0, HexFrames({2, 10, 18, 26, 34, 42})},
        {"saleae-spi-nopacket.csv", "saleae-spi", 8, HexFrames({2, 10, 18, 26, 34, 42})},
        {"saleae-biss.csv", "saleae-biss", 0,
         BissFrames({"0x19374E2,0x3,0x2A", "0x0000000,0x3,0x3A", "0x3FFFFFF,0x3,0x22",
                     "0x1234567,0x1,0x2D", "0x19374E3,0x2,0x25", "0x2AAAAAA,0x3,0x15"})},
        {"saleae-biss-binary.csv", "saleae-biss", 0,
         BissFrames({"0b01100100110111010011100010,0b11,0b101010",
                     "0b00000000000000000000000000,0b11,0b111010",
                     "0b11111111111111111111111111,0b11,0b100010",
                     "0b01001000110100010101100111,0b01,0b101101",
                     "0b01100100110111010011100011,0b10,0b100101",
                     "0b10101010101010101010101010,0b11,0b010101"})},
        {"saleae-biss-decimal.csv", "saleae-biss", 0,
         BissFrames({"26440930,3,42", "0,3,58", "67108863,3,34", "19088743,1,45", "26440931,2,37",
                     "44739242,3,21"})},
        {"sigrok-transfer.txt", "sigrok", 0, HexFrames({1, 2, 3, 4, 5, 6})},
        {"sigrok-samplenum.txt", "sigrok", 0, HexFrames({1, 2, 3, 4, 5, 6})},
        {"sigrok-verbose.txt", "sigrok", 0, HexFrames({1, 2, 3, 4, 5, 6})},
        {"sigrok-debug.txt", "sigrok", 0, HexFrames({1, 2, 3, 4, 5, 6})},
        {"sigrok-data.txt", "sigrok", 8, HexFrames({1, 9, 17, 25, 33, 41})},
        {"binary-frames.bin", "binary", 8, binaryFile},
    };
    for (const TSample& sample : samples) {
        const std::string stored = ReadFile(sample.File);
        ASSERT_FALSE(stored.empty()) << sample.File;
        std::vector<std::string> inputs = {stored};
        const bool text = sample.Format != "binary";
        if (text && stored.find('\r') == std::string::npos) {
            inputs.push_back(WithCrLf(stored));
        }
        for (const std::string& input : inputs) {
            for (const std::string& format : {sample.Format, std::string("auto")}) {
                for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, SIZE_MAX}) {
                    SCOPED_TRACE(::testing::Message() << sample.File << (input == stored ? "" : " in CR LF")
                                                      << " as " << format << ", piece " << piece);
                    const TReadResult result = ReadCapture(input, Options(format, "", sample.FrameBytes), piece);
                    EXPECT_EQ(result.Format, sample.Format);
                    EXPECT_EQ(result.Frames, sample.Frames);
                }
            }
        }
    }
}

TEST(SampleFiles, RefuseTheAsciiRadixWithAMessageToExportInHex) {
    const std::string input = ReadFile("saleae-table-ascii.csv");
    for (const std::string format : {"saleae-table", "auto"}) {
        try {
            ReadCapture(input, Options(format));
            ADD_FAILURE() << "no error";
        } catch (const TInputError& error) {
            EXPECT_EQ(error.Line(), 3U);
            EXPECT_NE(std::string(error.what()).find("export it again in hexadecimal"), std::string::npos)
                << error.what();
        }
    }
}

} // namespace
