// Every reader on inline texts, table-driven: each case is read with LF and CR LF line ends,
// through sources that return 1, 2, 3, 7 bytes or everything per read, in batches of 1, 3 and
// 1000 frames; every way must give the same frames.
#include "capturetest.h"

#include <gtest/gtest.h>

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

const TInputFormat Hex_ = TInputFormat::ifHex;

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

} // namespace
