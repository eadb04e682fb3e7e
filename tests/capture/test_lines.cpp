// The line reader and the CSV records on top of it: line ends, the byte order mark, lines cut
// by block and read boundaries, overlong lines, and RFC 4180 quoting.
#include "capturetest.h"
#include "capture/csvrecords.h"
#include "capture/linereader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct TLine {
    std::uint64_t Number;
    std::string Text;
    bool operator==(const TLine& other) const { return Number == other.Number && Text == other.Text; }
};

std::ostream& operator<<(std::ostream& out, const TLine& line) {
    return out << line.Number << ":\"" << line.Text << "\"";
}

// The lines of `input`, their pieces joined, read with the given read and block sizes.
std::vector<TLine> ReadLines(const std::string& input, std::size_t pieceBytes, std::size_t blockBytes) {
    TMemoryByteSource source(input, pieceBytes);
    TLineReader reader(source, true, blockBytes);
    std::vector<TLine> lines;
    TLinePiece piece;
    bool open = false;
    std::uint64_t lastConsumed = 0;
    while (reader.Next(piece)) {
        EXPECT_EQ(piece.First, !open);
        if (piece.First) {
            lines.push_back({piece.Line, ""});
        } else {
            EXPECT_EQ(piece.Line, lines.back().Number);
        }
        lines.back().Text += piece.Text;
        open = !piece.Last;
        EXPECT_GE(reader.BytesConsumed(), lastConsumed);
        lastConsumed = reader.BytesConsumed();
    }
    EXPECT_FALSE(open);
    EXPECT_EQ(reader.BytesConsumed(), input.size());
    return lines;
}

const std::size_t PieceSizes[] = {1, 2, 3, 7, 4096, SIZE_MAX};
const std::size_t BlockSizes[] = {1, 5, TLineReader::DefaultBlockBytes};

TEST(LineReader, SplitsLinesWhateverTheReadAndBlockSizes) {
    struct TCase {
        std::string Input;
        std::vector<TLine> Lines;
    };
    const std::vector<TCase> cases = {
        {"", {}},
        {"a\nbc\n", {{1, "a"}, {2, "bc"}}},
        {"a\r\nbc\r\n", {{1, "a"}, {2, "bc"}}},
        {"a\nlast", {{1, "a"}, {2, "last"}}},
        {"a\r\nlast\r", {{1, "a"}, {2, "last"}}},
        {"\n\n\nx", {{1, ""}, {2, ""}, {3, ""}, {4, "x"}}},
        {"a\rb\n", {{1, "a\rb"}}},           // a lone CR is no line end
        {"a\r\r\n", {{1, "a\r"}}},           // only the CR of CR LF is removed
        {"\xEF\xBB\xBF" "C0\n", {{1, "C0"}}}, // the byte order mark
        {"\xEF\xBB\xBF", {}},
        {"\xEF\xBB", {{1, "\xEF\xBB"}}},       // not a whole mark: text
        {"x\n\xEF\xBB\xBF" "y", {{1, "x"}, {2, "\xEF\xBB\xBF" "y"}}}, // only at the start
    };
    for (const TCase& c : cases) {
        for (const std::size_t piece : PieceSizes) {
            for (const std::size_t block : BlockSizes) {
                EXPECT_EQ(ReadLines(c.Input, piece, block), c.Lines)
                    << "input \"" << c.Input << "\", piece " << piece << ", block " << block;
            }
        }
    }
}

TEST(LineReader, HandsOutOverlongLinesInPiecesAndKeepsTheirNumbers) {
    const std::string fits(MaxLineBytes, 'a');
    const std::string over(MaxLineBytes + 1, 'b');
    const std::string huge(3 * TLineReader::DefaultBlockBytes + 17, 'c');
    const std::string input = fits + "\r\n" + over + "\r\nx\n" + huge + "\r\ny";
    for (const std::size_t piece : {std::size_t{1000}, std::size_t{65537}, SIZE_MAX}) {
        TMemoryByteSource source(input, piece);
        TLineReader reader(source);
        TLinePiece p;
        // A line of exactly MaxLineBytes, even with its CR at a read boundary, is one piece.
        ASSERT_TRUE(reader.Next(p));
        EXPECT_TRUE(p.First && p.Last);
        EXPECT_EQ(p.Text, fits);
        std::vector<std::size_t> sizes;
        std::string joined;
        do {
            ASSERT_TRUE(reader.Next(p));
            EXPECT_EQ(p.Line, 2U);
            EXPECT_EQ(p.First, sizes.empty());
            if (p.First) {
                EXPECT_GT(p.Text.size(), MaxLineBytes);
            }
            sizes.push_back(p.Text.size());
            joined += p.Text;
        } while (!p.Last);
        EXPECT_EQ(joined, over) << "piece " << piece;
        ASSERT_TRUE(reader.Next(p));
        EXPECT_EQ(p.Text, "x");
        EXPECT_EQ(p.Line, 3U);
        joined.clear();
        std::size_t pieces = 0;
        do {
            ASSERT_TRUE(reader.Next(p));
            EXPECT_EQ(p.Line, 4U);
            joined += p.Text;
            ++pieces;
        } while (!p.Last);
        EXPECT_EQ(joined, huge);
        EXPECT_GT(pieces, 1U);
        ASSERT_TRUE(reader.Next(p));
        EXPECT_EQ(p.Text, "y");
        EXPECT_EQ(p.Line, 5U);
        EXPECT_FALSE(reader.Next(p));
    }
}

struct TRecord {
    std::uint64_t Line;
    std::vector<std::string> Fields;
    bool operator==(const TRecord& other) const { return Line == other.Line && Fields == other.Fields; }
};

std::ostream& operator<<(std::ostream& out, const TRecord& record) {
    out << record.Line << ":[";
    for (const std::string& field : record.Fields) {
        out << "\"" << field << "\" ";
    }
    return out << "]";
}

std::vector<TRecord> ReadRecords(const std::string& input, char delimiter, std::size_t pieceBytes) {
    TMemoryByteSource source(input, pieceBytes);
    TLineReader lines(source);
    TCsvRecordReader reader(lines);
    reader.SetDelimiter(delimiter);
    std::vector<TRecord> records;
    TCsvRecord record;
    while (reader.Next(record)) {
        TRecord r{record.Line, {}};
        if (record.Unterminated) {
            r.Fields.push_back("<unterminated>" + std::string(record.Raw));
        } else if (record.TooLong) {
            r.Fields.push_back("<too long>");
        }
        for (const std::string_view field : record.Fields) {
            r.Fields.emplace_back(field);
        }
        records.push_back(std::move(r));
    }
    return records;
}

TEST(CsvRecords, FollowRfc4180) {
    struct TCase {
        std::string Input;
        char Delimiter;
        std::vector<TRecord> Records;
    };
    const std::vector<TCase> cases = {
        {"a,b,c\n1,2,3\n", ',', {{1, {"a", "b", "c"}}, {2, {"1", "2", "3"}}}},
        {"a,,c,\n", ',', {{1, {"a", "", "c", ""}}}},
        {"\"x,y\",\"say \"\"hi\"\"\",z\n", ',', {{1, {"x,y", "say \"hi\"", "z"}}}},
        {"\"two\nlines\",b\nnext,1\n", ',', {{1, {"two\nlines", "b"}}, {3, {"next", "1"}}}},
        {"\"two\r\nlines\",b\r\nnext,1\r\n", ',', {{1, {"two\nlines", "b"}}, {3, {"next", "1"}}}},
        {"a\tb,c\t\"d\te\"\n", '\t', {{1, {"a", "b,c", "d\te"}}}},
        {"\n  \na,b\n\n\nc,d", ',', {{3, {"a", "b"}}, {6, {"c", "d"}}}},
        {"\"\"\n", ',', {{1, {""}}}},
        {"\"ab\"cd,e\n", ',', {{1, {"abcd", "e"}}}}, // text after the closing quote stays
        {"a,\"open\nb,c\n", ',', {{1, {"<unterminated>a,\"open\nb,c"}}}},
    };
    for (const TCase& c : cases) {
        for (const std::size_t piece : PieceSizes) {
            EXPECT_EQ(ReadRecords(c.Input, c.Delimiter, piece), c.Records)
                << "input \"" << c.Input << "\", piece " << piece;
        }
    }
}

TEST(CsvRecords, MarkOverlongRecordsAndFindTheirEnd) {
    // A quoted field spanning many lines and more than MaxLineBytes, then a normal record.
    std::string input = "\"";
    for (int i = 0; i < 5000; ++i) {
        input += "many many many words\n";
    }
    input += "\",x\nnext,1\n";
    const std::vector<TRecord> records = ReadRecords(input, ',', 4096);
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0], (TRecord{1, {"<too long>"}}));
    EXPECT_EQ(records[1], (TRecord{5002, {"next", "1"}}));
}

} // namespace

// A live input: its writer sends `pieces` one at a time and is quiet after each, until the
// reader asks again.
class TQuietSource final : public TByteSource {
public:
    explicit TQuietSource(std::vector<std::string> pieces) : FPieces(std::move(pieces)) {}
    std::size_t Read(char* buffer, std::size_t capacity) override {
        if (FNext == FPieces.size()) {
            return 0;
        }
        std::string& piece = FPieces[FNext];
        const std::size_t n = std::min(capacity, piece.size());
        std::memcpy(buffer, piece.data(), n);
        piece.erase(0, n);
        FNext += piece.empty() ? 1 : 0;
        FQuiet = piece.empty();
        ++Reads;
        return n;
    }
    bool DataWaiting() const override { return !FQuiet || FNext == FPieces.size(); }
    std::size_t Reads = 0;

private:
    std::vector<std::string> FPieces;
    std::size_t FNext = 0;
    bool FQuiet = false;
};

TEST(LiveInput, FramesAreHandedOnWhenTheWriterIsQuiet) {
    struct TCase {
        const char* Format;
        std::vector<std::string> Pieces;
        std::vector<std::size_t> FramesPerBatch; // frames of each batch, in order
        std::uint32_t FrameBytes = 0;
    };
    const std::vector<TCase> cases = {
        {"hex", {"C004C9BA71753000\n", "C004C9BA71753000\nC004C9BA71753000\n", "# done\n"}, {1, 2}},
        {"auto", {"C004C9BA71753000\n", "C004C9BA71753000\n"}, {1, 1}},
        {"hex", {"C004C9BA", "71753000\n", "C0\n"}, {1, 1}}, // never inside a line
        {"csv", {"time,miso\n", "1,C004C9BA71753000\n", "2,\"C0\n04\"\n", "3,C0\n"}, {1, 1, 1}},
        {"sigrok", {"spi-1: C0 04\n", "spi-1: C9\n"}, {1, 1}},
        {"saleae-spi", {"Time [s],Packet ID,MOSI,MISO\n0.1,0,0x00,0xC0\n", "0.2,1,0x00,0x04\n", "0.3,2,0x00,0x05\n"}, {1, 2}}, // a packet ends at the next one
        {"binary", {std::string("\xC0\x04", 2), std::string("\xC9\xBA\x71\x75", 4)}, {1, 2}, 2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Format + std::string(" ") + c.Pieces.front());
        TQuietSource source(c.Pieces);
        TReaderOptions options;
        options.Format = c.Format;
        options.FrameBytes = c.FrameBytes;
        const std::unique_ptr<TCaptureReader> reader = OpenCaptureReader(source, options);
        std::vector<std::size_t> sizes;
        TCaptureBatch batch;
        for (;;) {
            batch.Clear();
            if (!reader->ReadBatch(batch, 4096)) {
                break;
            }
            sizes.push_back(batch.Frames.size());
        }
        EXPECT_EQ(sizes, c.FramesPerBatch);
    }
}
