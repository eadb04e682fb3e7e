// Recognising formats, and inputs that are bad in every way: binary garbage to every reader, a
// truncated row, an unknown format, an empty file, a 10 MB line, a quote never closed, lines
// cut at every block boundary. Each gives frames or a clear TInputError, never a crash.
#include "capturetest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

const std::vector<std::string> TextFormats = {"hex", "csv",
                                               "saleae-table", "saleae-spi",
                                               "saleae-biss", "sigrok"};

TEST(Recognition, FindsTheFormatFromTheFirstLines) {
    struct TCase {
        std::string Input;
        std::string Column;
        std::string Format;
    };
    const std::string longComment = "#" + std::string(70000, 'x') + "\xC3\xBC\nC0\n";
    const std::vector<TCase> cases = {
        {"", "", "hex"},
        {"\n \n\t\n", "", "hex"},
        {"# only a comment\n", "", "hex"},
        {"C0 04 C9 BA\n0xC004\n", "", "hex"},
        {"# capture, 2024\nC0:04\nnoise\nD1\n", "", "hex"}, // most data lines are hex
        {"C0 04 C9 BA 71 75 30 00\nzz\n", "", "hex"},     // half, the first among them
        {std::string(100000, 'C') + "\n", "", "hex"},        // no line end in the sample
        {longComment, "", "hex"}, // a UTF-8 sequence cut by the sample's end is text
        {std::string("\0\1\2\3", 4), "", "binary"},
        {"\xC0\x04\xC9\xBA\x71\x75\x30\x00", "", "binary"}, // not UTF-8
        {"C0\x1B" "04\n", "", "binary"},
        {"name,type,start_time,duration,\"mosi\",\"miso\"\n", "", "saleae-table"},
        {"Time [s],Packet ID,MOSI,MISO\n", "", "saleae-spi"},
        {"Time[s],DATA,ERR-WARN,CRC\n", "", "saleae-biss"},
        {"\xEF\xBB\xBF" "index,MISO\n1,C0\n", "", "csv"},
        {"t\tmosi\n", "MOSI", "csv"},
        {"spi-1: C0 04\n", "", "sigrok"},
        {"\n20-284 spi-1: MISO transfer: \"C0 04\"\n", "", "sigrok"},
    };
    for (const TCase& c : cases) {
        TReaderOptions options = Options("auto", c.Column, 8);
        TMemoryByteSource source(c.Input, 5);
        EXPECT_EQ(OpenCaptureReader(source, options)->Format(), c.Format) << c.Input.substr(0, 40);
    }
}

TEST(Recognition, LooksAtTheSameLinesWhateverTheReadSizes) {
    // A control byte after the sampled lines, and a byte order mark line that is not text:
    // whole reads get more of the input than one-byte reads, the verdict must not change.
    std::string input = "\xEF\xBB\xBF\n";
    for (int i = 0; i < 16; ++i) {
        input += "C004C9BA71753000\n";
    }
    input += std::string("\x01\x02\n", 3);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{17}, SIZE_MAX}) {
        TMemoryByteSource source(input, piece);
        EXPECT_EQ(OpenCaptureReader(source, Options("auto"))->Format(), "hex")
            << "piece " << piece;
    }
}

TEST(Recognition, SaysWhatWasTriedWhenNothingFits) {
    struct TCase {
        std::string Input;
        std::uint64_t Line;
        std::string Part;
    };
    // Every format of the registry is named, in its order.
    std::string tried = "tried ";
    const auto& formats = InputFormats();
    for (std::size_t i = 0; i < formats.size(); ++i) {
        tried += i == 0 ? "" : i + 1 == formats.size() ? " and " : ", ";
        tried += formats[i]->Name;
    }
    ASSERT_NE(tried.find("binary, "), std::string::npos);
    ASSERT_NE(tried.find(" and hex"), std::string::npos);
    const std::vector<TCase> cases = {
        {"hello\n", 1, tried + ": give --input"},
        {"\n# frames\n\nhello world\n", 4, "(\"hello world\")"},
        {"time,value\n1,2\n", 1, "its columns are \"time\", \"value\"; choose one with --column, or give --input"},
        {"\x01\x02", 0, "give --frame-bytes N"}, // binary needs a frame size
    };
    for (const TCase& c : cases) {
        TMemoryByteSource source(c.Input);
        try {
            OpenCaptureReader(source, Options("auto"));
            ADD_FAILURE() << "no error for " << c.Input;
        } catch (const TInputError& error) {
            EXPECT_EQ(error.Line(), c.Line) << error.what();
            EXPECT_NE(std::string(error.what()).find(c.Part), std::string::npos) << error.what();
        }
    }
}

TEST(Recognition, NamesOfFormats) {
    for (const char* name : {"hex", "csv", "saleae-table", "saleae-spi", "saleae-biss", "sigrok", "binary"}) {
        const TInputFormatInfo* info = FindInputFormat(name);
        ASSERT_NE(info, nullptr) << name;
        EXPECT_EQ(info->Name, name);
    }
    EXPECT_EQ(FindInputFormat("auto"), nullptr);
    EXPECT_EQ(FindInputFormat("Hex"), nullptr);
    EXPECT_EQ(FindInputFormat("pcap"), nullptr);
    TMemoryByteSource source("C0\n");
    EXPECT_THROW(OpenCaptureReader(source, Options("pcap")), TInputError);
}

// Reads `input` in every format, whole and in odd pieces, and checks what must hold whatever
// the input: the same frames both ways, lines that never decrease, hex frames of letters and
// digits only, short inputs for invalid frames. A TInputError is an answer too.
void ReadInEveryFormat(const std::string& input, const char* what) {
    for (const std::string& format : TextFormats) {
        for (const std::uint32_t frameBytes : {0U, 3U}) {
            SCOPED_TRACE(::testing::Message() << what << " as " << format << ", frame bytes " << frameBytes);
            const TReaderOptions options = Options(format, "", frameBytes);
            std::string whole;
            std::string pieces;
            TReadResult a;
            TReadResult b;
            try {
                a = ReadCapture(input, options);
            } catch (const TInputError& error) {
                whole = error.what();
            }
            try {
                b = ReadCapture(input, options, 7, 5);
            } catch (const TInputError& error) {
                pieces = error.what();
            }
            EXPECT_EQ(whole, pieces);
            EXPECT_EQ(a.Frames, b.Frames);
            std::uint64_t line = 0;
            for (const TReadFrame& frame : a.Frames) {
                EXPECT_GE(frame.Line, line);
                line = frame.Line;
                EXPECT_LE(frame.Input.size(), std::size_t{MaxLineBytes} + 3);
                if (frame.Kind == TCaptureKind::ckHex) {
                    for (const char c : frame.Input) {
                        ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
                            << frame;
                    }
                }
            }
        }
    }
}

TEST(BadInput, BinaryGarbageToEveryReader) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 20; ++round) {
        std::string garbage(1 + random() % 3000, '\0');
        for (char& c : garbage) {
            c = static_cast<char>(random());
        }
        ReadInEveryFormat(garbage, "garbage");
    }
    // Garbage after a header of every export.
    for (const char* header : {"miso\n", "name,type,start_time,miso\n", "Time [s],Packet ID,MOSI,MISO\n",
                               "Time[s],DATA,ERR-WARN,CRC\n", "spi-1: C0\n"}) {
        std::string input = header;
        for (int i = 0; i < 2000; ++i) {
            input += static_cast<char>(random());
        }
        ReadInEveryFormat(input, header);
    }
}

TEST(BadInput, GarbageRecognisedAsBinaryIsCutIntoFrames) {
    const std::string garbage("\x00\xFF\x10\x80\x7F", 5);
    const TReadResult result = ReadCapture(garbage, Options("auto", "", 2), 1);
    EXPECT_EQ(result.Format, "binary");
    EXPECT_EQ(result.Frames, (std::vector<TReadFrame>{Hex(1, "00FF"), Hex(2, "1080"), Invalid(3, "7F")}));
}

TEST(BadInput, EmptyInputHasNoFramesInAnyFormat) {
    EXPECT_TRUE(ReadCapture("", Options("binary", "", 8)).Frames.empty());
    for (const std::string input : {"", "\xEF\xBB\xBF"}) {
        for (const std::string& format : TextFormats) {
            const TReadResult result = ReadCapture(input, Options(format));
            EXPECT_TRUE(result.Frames.empty()) << format;
            EXPECT_EQ(result.BytesConsumed, input.size());
        }
        EXPECT_TRUE(ReadCapture(input, Options("auto")).Frames.empty());
    }
}

TEST(BadInput, TruncatedLastRows) {
    struct TCase {
        std::string Format;
        std::string Input;
        std::vector<TReadFrame> Frames;
    };
    const std::vector<TCase> cases = {
        {"csv", "time,note,miso\n1,a,C0\n2,b", {Hex(2, "C0"), Invalid(3, "2,b")}},
        {"csv", "time,note,miso\n1,a,C0\n2,\"b", {Hex(2, "C0"), Invalid(3, "2,\"b")}},
        {"saleae-table", "name,type,start_time,miso\nSPI,enable,0.1,\nSPI,result,0.2,0xC0\nSPI,res",
         {Invalid(2, "C0 SPI,res")}},
        {"saleae-spi", "Time [s],Packet ID,MOSI,MISO\n0.1,0,0x00,0xC0\n0.2,0,0x0", {Invalid(2, "C0 0.2,0,0x0")}},
        {"saleae-biss", "Time[s],DATA,ERR-WARN,CRC\n0.1,0x1,0x3,0x2A\n0.2,0x1,0x",
         {Biss(2, "0x1,0x3,0x2A", 1, 3, 0x2A), Invalid(3, "0.2,0x1,0x")}},
        {"sigrok", "spi-1: C0 04\nspi-1: C", {Hex(1, "C004"), Hex(2, "C")}},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(ReadCapture(c.Input, Options(c.Format)).Frames, c.Frames) << c.Input;
    }
}

TEST(BadInput, TenMegabyteLineInEveryFormat) {
    const std::string huge(10 * 1000 * 1000, '7');
    const std::string start = std::string(64, '7') + "...";
    struct TCase {
        std::string Format;
        std::string Before;
        std::string After;
        std::vector<TReadFrame> Frames;
    };
    const std::vector<TCase> cases = {
        {"hex", "C0\n", "\nD1\n", {Hex(1, "C0"), Invalid(2, start), Hex(3, "D1")}},
        {"csv", "miso\nC0\n", "\nD1\n", {Hex(2, "C0"), Invalid(3, start), Hex(4, "D1")}},
        {"saleae-table", "name,type,start_time,miso\nSPI,result,0,0xC0\n", "\nSPI,result,0,0xD1\n",
         {Hex(2, "C0"), Invalid(3, start), Hex(4, "D1")}},
        {"saleae-spi", "Time [s],Packet ID,MOSI,MISO\n0,,0,0xC0\n", "\n0,,0,0xD1\n",
         {Hex(2, "C0"), Invalid(3, start), Hex(4, "D1")}},
        {"saleae-biss", "Time[s],DATA,ERR-WARN,CRC\n", "\n0,1,2,3\n",
         {Invalid(2, start), Biss(3, "1,2,3", 1, 2, 3)}},
        {"sigrok", "spi-1: C0\n", "\nspi-1: D1\n", {Hex(1, "C0"), Invalid(2, start), Hex(3, "D1")}},
        // A value of 10 MB: the frame it makes is too long.
        {"saleae-table", "name,type,start_time,miso\nSPI,result,0,0x", "\n", {Invalid(2, std::string("SPI,result,0,0x") + std::string(49, '7') + "...")}},
    };
    for (const TCase& c : cases) {
        for (const std::size_t piece : {std::size_t{65536 + 3}, SIZE_MAX}) {
            const TReadResult result = ReadCapture(c.Before + huge + c.After, Options(c.Format), piece);
            EXPECT_EQ(result.Frames, c.Frames) << c.Format << ", piece " << piece;
        }
    }
    // A span whose values never end.
    std::string span = "name,type,start_time,miso\nSPI,enable,0,\n";
    for (int i = 0; i < 40000; ++i) {
        span += "SPI,result,0,0xC0\n";
    }
    const TReadResult result = ReadCapture(span, Options("saleae-table"));
    std::string digits;
    for (int i = 0; i < 32; ++i) {
        digits += "C0";
    }
    EXPECT_EQ(result.Frames, std::vector<TReadFrame>{Invalid(2, digits + "...")});
}

TEST(BadInput, QuotedFieldNeverClosed) {
    std::string input = "note,miso\n1,C0\n\"open,C1\n";
    for (int i = 0; i < 200000; ++i) {
        input += "2,C2\n";
    }
    const TReadResult result = ReadCapture(input, Options("csv"), 4093);
    ASSERT_EQ(result.Frames.size(), 2U);
    EXPECT_EQ(result.Frames[0], Hex(2, "C0"));
    EXPECT_EQ(result.Frames[1], Invalid(3, "\"open,C1\n2,C2\n2,C2\n2,C2\n2,C2\n2,C2\n2,C2\n2,C2\n2,C2\n2,C2\n2,C2\n2,C2\n..."));
    EXPECT_EQ(result.BytesConsumed, input.size());
}

TEST(BlockBoundaries, LinesCutByEveryReadSizeKeepTheirFrames) {
    // About 3.4 MB of different frames, so lines straddle the 1 MiB blocks, read in pieces of
    // exactly a block, one byte less, an odd size and single bytes.
    std::string input;
    std::vector<TReadFrame> expected;
    std::mt19937_64 random(7);
    char text[24];
    for (std::uint64_t line = 1; line <= 200000; ++line) {
        std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(random()));
        input += text;
        input += line % 3 == 0 ? "\r\n" : "\n";
        expected.push_back(Hex(line, text));
    }
    for (const std::size_t piece : {std::size_t{1} << 20, (std::size_t{1} << 20) - 1, std::size_t{4093}, std::size_t{1}}) {
        const TReadResult result = ReadCapture(input, Options("hex"), piece, 4096);
        EXPECT_EQ(result.Frames == expected, true) << "piece " << piece;
        EXPECT_EQ(result.BytesConsumed, input.size());
    }
}

} // namespace
