// Every reader on inline texts, table-driven: each case is read with LF and CR LF line ends,
// through sources that return 1, 2, 3, 7 bytes or everything per read, in batches of 1, 3 and
// 1000 frames; every way must give the same frames.
#include "capturetest.h"
#include "decode/frametext.h"
#include "capture/linereader.h"

#include <gtest/gtest.h>

#include <random>

#include <string>
#include <vector>

namespace {

struct TCase {
    const char* Name;
    TReaderOptions Options;
    std::string Input;
    std::vector<TReadFrame> Frames;
};

void RunCases(const std::vector<TCase>& cases, bool crlfToo = true) {
    for (const TCase& c : cases) {
        std::vector<std::string> inputs = {c.Input};
        if (crlfToo) {
            inputs.push_back(WithCrLf(c.Input));
        }
        for (const std::string& input : inputs) {
            for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, SIZE_MAX}) {
                for (const std::size_t batch : {std::size_t{1}, std::size_t{3}, std::size_t{1000}}) {
                    SCOPED_TRACE(::testing::Message() << c.Name << (input == c.Input ? " (LF)" : " (CRLF)")
                                                      << ", piece " << piece << ", batch " << batch);
                    const TReadResult result = ReadCapture(input, c.Options, piece, batch);
                    EXPECT_EQ(result.Frames, c.Frames);
                    EXPECT_EQ(result.BytesConsumed, input.size());
                    EXPECT_EQ(result.Format, c.Options.Format);
                }
            }
        }
    }
}

const std::string Hex_ = "hex";
const std::string Csv_ = "csv";
const std::string Table_ = "saleae-table";
const std::string Spi_ = "saleae-spi";
const std::string Biss_ = "saleae-biss";
const std::string Sigrok_ = "sigrok";
const std::string Binary_ = "binary";

// The error a reader stops with: its line and whether its message holds `part`.
void ExpectInputError(const std::string& input, const TReaderOptions& options, std::uint64_t line,
                      const std::string& part) {
    SCOPED_TRACE(input.substr(0, 60));
    try {
        ReadCapture(input, options);
        ADD_FAILURE() << "no error";
    } catch (const TInputError& error) {
        EXPECT_EQ(error.Line(), line) << error.what();
        EXPECT_NE(std::string(error.what()).find(part), std::string::npos) << error.what();
    }
}

TEST(HexReader, ReadsOneCleanedFramePerLine) {
    RunCases({
        {"plain", Options(Hex_), "C004C9BA71753000\nc004c9ba71753000\n",
         {Hex(1, "C004C9BA71753000"), Hex(2, "c004c9ba71753000")}},
        {"bytes with blanks are one frame", Options(Hex_), "C0 04 C9 BA 71 75 30 00\n",
         {Hex(1, "C004C9BA71753000")}},
        {"one 0x removed, separators dropped", Options(Hex_), "0xC0:04-C9\n0XAB\n",
         {Hex(1, "C004C9"), Hex(2, "0XAB")}},
        {"blank lines and comments skipped, lines still counted", Options(Hex_),
         "# capture of 2024\n\n   \t\n  # indented comment\nC0 04\n\n",
         {Hex(5, "C004")}},
        {"a last line without a line end", Options(Hex_), "AB\nCD", {Hex(1, "AB"), Hex(2, "CD")}},
        {"validity is decided later", Options(Hex_), "hello\n12 # not a comment\n",
         {Hex(1, "hello"), Hex(2, "12notacomment")}},
        {"non-ASCII dropped like the window drops it", Options(Hex_), "C0 \xC3\xBC 04\n", {Hex(1, "C004")}},
        {"byte order mark", Options(Hex_), "\xEF\xBB\xBF" "C0\n", {Hex(1, "C0")}},
        {"empty input", Options(Hex_), "", {}},
        {"only comments", Options(Hex_), "# nothing\n", {}},
    });
}

TEST(HexReader, TurnsOverlongLinesIntoInvalidFramesAndSkipsLongCommentsAndBlanks) {
    const std::string longText(MaxLineBytes + 10, 'A');
    const std::string longComment = "#" + std::string(MaxLineBytes + 10, 'x');
    const std::string longBlank(MaxLineBytes + 10, ' ');
    RunCases({{"overlong lines", Options(Hex_),
               "C0\n" + longText + "\n" + longComment + "\n" + longBlank + "\nD1\n",
               {Hex(1, "C0"), Invalid(2, std::string(64, 'A') + "..."), Hex(5, "D1")}}},
             false);
}

TEST(HexReader, CleansEveryLineAsTheCoreCleansIt) {
    // Lines mostly of letters and digits, some with any other byte: whatever path the reader
    // takes for a line, its frame is what CleanFrameText makes of it.
    std::mt19937 random(1234);
    const std::string common = "0123456789ABCDEFabcdefxXgz";
    std::string input;
    std::vector<TReadFrame> expected;
    for (std::uint64_t line = 1; line <= 20000; ++line) {
        std::string text;
        const std::size_t length = random() % 70;
        for (std::size_t i = 0; i < length; ++i) {
            char c = common[random() % common.size()];
            if (random() % 40 == 0) {
                do {
                    c = static_cast<char>(1 + random() % 255);
                } while (c == '\n' || c == '\r');
            }
            text += c;
        }
        input += text + "\n";
        const std::string_view trimmed = TrimBlanks(text);
        if (!trimmed.empty() && trimmed.front() != '#') {
            expected.push_back(Hex(line, CleanFrameText(text)));
        }
    }
    EXPECT_EQ(ReadCapture(input, Options(Hex_)).Frames, expected);
}

TEST(CsvReader, ReadsTheChosenColumnOfEveryRecord) {
    RunCases({
        {"column by name, any case", Options(Csv_), "Time,MISO,mosi\n1,C0 04,00\n2,0xC9BA,00\n",
         {Hex(2, "C004"), Hex(3, "C9BA")}},
        {"a chosen column", Options(Csv_, "MoSi"), "Time,MISO,mosi\n1,C0,0A\n", {Hex(2, "0A")}},
        {"quoted header names", Options(Csv_), "\"time\",\"miso\"\n1,AB\n", {Hex(2, "AB")}},
        {"TAB as delimiter, commas in quotes not counted", Options(Csv_), "\"a,b,c\"\tmiso\n1,2\tC0\n",
         {Hex(2, "C0")}},
        {"a record over two lines keeps its first line", Options(Csv_),
         "note,miso\n\"a\nb\",C0\nx,D1\n", {Hex(2, "C0"), Hex(4, "D1")}},
        {"a short row is invalid as read, an empty field is an empty frame", Options(Csv_),
         "a,b,miso\n1,2\n1,2,\n", {Invalid(2, "1,2"), Hex(3, "")}},
        {"a quote never closed", Options(Csv_), "a,miso\n1,C0\n\"open,C1\nD2\n",
         {Hex(2, "C0"), Invalid(3, "\"open,C1\nD2")}},
        {"blank lines between records", Options(Csv_), "\nmiso\n\n  \nC0\n", {Hex(5, "C0")}},
        {"empty input", Options(Csv_), "", {}},
        {"only a header", Options(Csv_), "miso\n", {}},
    });
}

TEST(CsvReader, NamesTheColumnsWhenTheChosenOneIsMissing) {
    ExpectInputError("\nTime [s],MOSI\n1,2\n", Options(Csv_), 2,
                     "no column \"miso\"; its columns are \"Time [s]\", \"MOSI\"; choose one with --column");
    ExpectInputError("a,b\n", Options(Csv_, "data"), 1, "no column \"data\"");
}

TEST(SaleaeTableReader, ReadsSpansRowsAndCuts) {
    const std::string header = "name,type,start_time,duration,\"mosi\",\"miso\"\n";
    RunCases({
        {"a span is a frame", Options(Table_),
         header + "\"SPI\",\"enable\",0.1,0.0,,\n\"SPI\",\"result\",0.2,0.1,0x00,0xC0\n"
                  "\"SPI\",\"result\",0.3,0.1,0x00,0x04\n\"SPI\",\"disable\",0.4,0.0,,\n",
         {Hex(2, "C004")}},
        {"rows outside spans are frames of their own", Options(Table_),
         header + "\"SPI\",\"result\",0.2,0.1,0x00,0xC004\n\"SPI\",\"result\",0.3,0.1,0x00,0xC9\n",
         {Hex(2, "C004"), Hex(3, "C9")}},
        {"other analyzers and other SPI analyzers are ignored", Options(Table_),
         header + "\"I2S\",\"error\",0.0,0.0,,\n\"SPI\",\"enable\",0.1,0.0,,\n\"I2C\",\"start\",0.1,0.0,,\n"
                  "\"SPI 2\",\"result\",0.2,0.1,0x00,0xEE\n\"SPI\",\"result\",0.2,0.1,0x00,0xC0\n"
                  "\"SPI\",\"disable\",0.4,0.0,,\n",
         {Hex(3, "C0")}},
        {"decimal and binary values", Options(Table_),
         header + "SPI,result,0.2,0.1,0,192 4\nSPI,result,0.3,0.1,0,0b11000000\nSPI,result,0.3,0.1,0,0b101\n",
         {Hex(2, "C004"), Hex(3, "C0"), Hex(4, "05")}},
        {"an error row or an empty value makes the span invalid", Options(Table_),
         header + "SPI,enable,0.1,0,,\nSPI,result,0.2,0,0,0xC0\nSPI,error,0.3,0,,\nSPI,result,0.4,0,0,0x04\n"
                  "SPI,disable,0.5,0,,\nSPI,enable,0.6,0,,\nSPI,result,0.7,0,0,\nSPI,disable,0.8,0,,\n",
         {Invalid(2, "C0 SPI,error,0.3,0,, 04"), Invalid(7, "SPI,result,0.7,0,0,")}},
        {"a row too short inside a span", Options(Table_),
         header + "SPI,enable,0.1,0,,\nSPI,result,0.2,0,0,0xC0\nSPI,result\nSPI,disable,0.5,0,,\n",
         {Invalid(2, "C0 SPI,result")}},
        {"a new enable ends the open span; an open span at the end is delivered; an empty span is none",
         Options(Table_),
         header + "SPI,enable,0.1,0,,\nSPI,result,0.2,0,0,0xC0\nSPI,enable,0.3,0,,\nSPI,disable,0.4,0,,\n"
                  "SPI,enable,0.5,0,,\nSPI,result,0.6,0,0,0xD1\n",
         {Hex(2, "C0"), Hex(6, "D1")}},
        {"--frame-bytes cuts a span, its rest is invalid", Options(Table_, "", 2),
         header + "SPI,enable,0.1,0,,\nSPI,result,0.2,0,0,0xC0\nSPI,result,0.3,0,0,0x0401\n"
                  "SPI,result,0.4,0,0,0x02\nSPI,result,0.5,0,0,0x03\nSPI,disable,0.6,0,,\n",
         {Hex(3, "C004"), Hex(4, "0102"), Invalid(6, "03")}},
        {"--frame-bytes: one long value makes several frames", Options(Table_, "", 1),
         header + "SPI,result,0.2,0,0,0xC004C9\nSPI,result,0.3,0,0,0xBA\n",
         {Hex(2, "C0"), Hex(2, "04"), Hex(2, "C9"), Hex(3, "BA")}},
        {"the mosi column", Options(Table_, "MOSI"), header + "SPI,result,0.2,0.1,0x5A,0xC0\n", {Hex(2, "5A")}},
        {"no duration column", Options(Table_), "name,type,start_time,\"miso\"\nSPI,result,0.2,0xAB\n",
         {Hex(2, "AB")}},
    });
}

TEST(SaleaeTableReader, StopsWithAMessageForWhatItCannotRead) {
    const std::string header = "name,type,start_time,duration,\"mosi\",\"miso\"\n";
    ExpectInputError(header + "SPI,result,0.2,0,0,300\n", Options(Table_), 2, "wider than a byte");
    ExpectInputError(header + "SPI,result,0.2,0,0,0xC0\nSPI,result,0.2,0,0,Hi\\0\n", Options(Table_), 3,
                     "ASCII");
    ExpectInputError("name,start_time,miso\n", Options(Table_), 1, "no column \"type\"");
    ExpectInputError("name,type,start_time,\"mosi\"\n", Options(Table_), 1,
                     "no column \"miso\"; its columns are \"name\", \"type\", \"start_time\", \"mosi\"; choose one with --column");
}

TEST(SaleaeSpiReader, GroupsRowsByPacket) {
    const std::string header = "Time [s],Packet ID,MOSI,MISO\n";
    RunCases({
        {"packets", Options(Spi_),
         header + "0.1,0,0x00,0xC0\n0.2,0,0x00,0x04\n0.3,1,0x00,0xC9\n0.4,        2,0x00,0xBA\n",
         {Hex(2, "C004"), Hex(4, "C9"), Hex(5, "BA")}},
        {"rows without a packet are frames of their own", Options(Spi_),
         header + "0.1,,0x00,0xC0\n0.2,,0x00,0x04\n0.3,7,0x00,0xC9\n0.4,7,0x00,0xBA\n",
         {Hex(2, "C0"), Hex(3, "04"), Hex(4, "C9BA")}},
        {"--frame-bytes cuts each packet, a rest is invalid", Options(Spi_, "", 2),
         header + "0.1,0,0x00,0xC0\n0.2,0,0x00,0x04\n0.3,0,0x00,0xC9\n0.4,1,0x00,0xBA\n0.5,1,0x00,0x71\n",
         {Hex(2, "C004"), Invalid(4, "C9"), Hex(5, "BA71")}},
        {"--frame-bytes cuts rows without packets as one stream", Options(Spi_, "", 2),
         header + "0.1,,0x00,0xC0\n0.2,,0x00,0x04\n0.3,,0x00,0xC9\n",
         {Hex(2, "C004"), Invalid(4, "C9")}},
        {"an unreadable row ends a cut frame", Options(Spi_, "", 2),
         header + "0.1,,0x00,0xC0\n0.2,,0x00\n0.3,,0x00,0xC9\n0.4,,0x00,0xBA\n",
         {Invalid(2, "C0 0.2,,0x00"), Hex(4, "C9BA")}},
        {"the MOSI column", Options(Spi_, "mosi"), header + "0.1,0,0x5A,0xC0\n", {Hex(2, "5A")}},
    });
    ExpectInputError("Time [s],MOSI,MISO\n", Options(Spi_), 1, "no column \"packet id\"");
}

TEST(SaleaeBissReader, ReadsTheFieldsOfEachRow) {
    const std::string header = "Time[s],DATA,ERR-WARN,CRC\n";
    RunCases({
        {"every radix", Options(Biss_),
         header + "0.1,0x19374E2,0x3,0x2A\n0.2,0b1010,0b01,0b000111\n0.3,42, 2 ,63\n",
         {Biss(2, "0x19374E2,0x3,0x2A", 0x19374E2, 3, 0x2A), Biss(3, "0b1010,0b01,0b000111", 10, 1, 7),
          Biss(4, "42,2,63", 42, 2, 63)}},
        {"empty or too wide fields, short rows", Options(Biss_),
         header + "0.1,,0x3,0x2A\n0.2,0x1,0x100,0x2A\n0.3,0x1,0x3,0x10000\n0.4,0x1FFFFFFFFFFFFFFFF,0,0\n0.5,0x1\n",
         {Invalid(2, ",0x3,0x2A"), Invalid(3, "0x1,0x100,0x2A"), Invalid(4, "0x1,0x3,0x10000"),
          Invalid(5, "0x1FFFFFFFFFFFFFFFF,0,0"), Invalid(6, "0.5,0x1")}},
        {"64 bits of data", Options(Biss_), header + "0.1,0xFFFFFFFFFFFFFFFF,0,0\n",
         {Biss(2, "0xFFFFFFFFFFFFFFFF,0,0", ~std::uint64_t{0}, 0, 0)}},
    });
    ExpectInputError(header + "0.1,'A',0x3,0x2A\n", Options(Biss_), 2, "ASCII");
    ExpectInputError("Time[s],CDM_S/CTS,CDM_ID\n", Options(Biss_), 1, "no column \"data\"");
}

TEST(SigrokReader, ReadsAnnotationLines) {
    RunCases({
        {"every verbosity", Options(Sigrok_),
         "spi-1: C0 04\n20-284 spi-1: C9\n20-284 spi-1: \"BA 71\"\n20-284 spi-1: MISO transfer: \"75 30\"\n",
         {Hex(1, "C004"), Hex(2, "C9"), Hex(3, "BA71"), Hex(4, "7530")}},
        {"other decoders ignored, unreadable lines invalid", Options(Sigrok_),
         "spi-1: C0\nuart-1: 41\nspi-1: CS# was deasserted during this data word!\nspi-1: \"AB\n\n  spi-1: D1\n",
         {Hex(1, "C0"), Invalid(3, "spi-1: CS# was deasserted during this data word!"), Invalid(4, "spi-1: \"AB"),
          Hex(6, "D1")}},
        {"--frame-bytes: a stream of bytes", Options(Sigrok_, "", 2),
         "1-2 spi-1: C0\n3-4 spi-1: 04\n5-6 spi-1: C9 BA 71\n7-8 spi-1: 75\n9-10 spi-1: 30\n",
         {Hex(1, "C004"), Hex(3, "C9BA"), Hex(3, "7175"), Invalid(5, "30")}},
        {"--frame-bytes: an unreadable line ends a frame", Options(Sigrok_, "", 2),
         "spi-1: C0\nnoise\nspi-1: C9\nspi-1: BA\n", {Invalid(1, "C0 noise"), Hex(3, "C9BA")}},
    });
}

TEST(BinaryReader, CutsBytesIntoFrames) {
    RunCases({{"frames and a short rest", Options(Binary_, "", 3), std::string("\xC0\x04\x00\r\n\x00\xFF", 7),
               {Hex(1, "C00400"), Hex(2, "0D0A00"), Invalid(3, "FF")}},
              {"empty", Options(Binary_, "", 3), "", {}}},
             false);
    ExpectInputError("abc", Options(Binary_), 0, "--frame-bytes");
    ExpectInputError("abc", Options(Binary_, "", MaxFrameBytes + 1), 0, "--frame-bytes");
}

} // namespace
