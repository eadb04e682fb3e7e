// Records against the core: for random layouts and frames, the fields printed in every format
// read back as the fields DecodeFrameBits gives for the same frame; and the escaping of bytes
// that a bad line can hold.
#include "frames.h"
#include "readback.h"
#include "cli/records.h"
#include "cli/textout.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>

namespace {

// The values of a flat JSON object whose strings hold no escapes, by key, as written.
std::map<std::string, std::string> SplitJson(std::string_view line) {
    std::map<std::string, std::string> values;
    std::size_t i = 1;
    while (i < line.size() && line[i] == '"') {
        const std::size_t keyEnd = line.find('"', i + 1);
        const std::string key(line.substr(i + 1, keyEnd - i - 1));
        std::size_t valueEnd = keyEnd + 2;
        if (line[valueEnd] == '"') {
            valueEnd = line.find('"', valueEnd + 1) + 1;
        } else {
            valueEnd = line.find_first_of(",}", valueEnd);
        }
        values[key] = std::string(line.substr(keyEnd + 2, valueEnd - keyEnd - 2));
        i = valueEnd + 1;
    }
    return values;
}

// A printed count read back as its 64-bit pattern; a sign only where the layout is signed.
std::uint64_t ReadCount(const std::string& text, bool mayBeNegative) {
    EXPECT_TRUE(mayBeNegative || text.empty() || text[0] != '-') << text;
    std::uint64_t value = 0;
    if (!text.empty() && text[0] == '-') {
        std::int64_t negative = 0;
        EXPECT_EQ(std::from_chars(text.data(), text.data() + text.size(), negative).ec, std::errc());
        return static_cast<std::uint64_t>(negative);
    }
    const int base = text.rfind("0x", 0) == 0 ? 16 : 10;
    const char* first = text.data() + (base == 16 ? 2 : 0);
    EXPECT_EQ(std::from_chars(first, text.data() + text.size(), value, base).ec, std::errc()) << text;
    return value;
}

std::string Bool(bool value) { return value ? "true" : "false"; }

TFrameLayoutParams RandomLayout(std::mt19937_64& random) {
    static constexpr std::uint32_t polynomials[] = {0x43, 0x25, 0x97, 0x89, 0x12F, 0x190D9, 0x3, 0xB};
    TFrameLayoutParams p;
    p.MultiTurnBits = static_cast<std::int32_t>(random() % 33);
    p.PositionBits = 1 + static_cast<std::int32_t>(random() % static_cast<unsigned>(64 - p.MultiTurnBits));
    p.StatusBits = static_cast<std::int32_t>(random() % 3);
    p.CrcPolynomial = polynomials[random() % std::size(polynomials)];
    const int width = std::bit_width(p.CrcPolynomial) - 1;
    p.CrcStart = static_cast<std::uint32_t>(random() % 3 == 0 ? random() % (1U << width) : 0);
    p.CrcInverted = random() % 2 == 0;
    p.Coding = random() % 2 == 0 ? TPositionCoding::pcBinary : TPositionCoding::pcGray;
    p.Signed = random() % 2 == 0;
    return p;
}

TEST(Records, PrintedFieldsEqualTheCoreForRandomLayouts) {
    std::mt19937_64 random(20240611);
    for (int round = 0; round < 300; ++round) {
        const TFrameLayoutParams params = RandomLayout(random);
        const TFrameLayout layout(params);
        TScale scale;
        scale.Enabled = round % 2 == 0;
        scale.Factor = 360.0 / static_cast<double>(1 + random() % 100000000);
        scale.Unit = "deg";

        TCaptureBatch batch;
        std::vector<std::string> texts;
        for (int i = 0; i < 8; ++i) {
            const std::int32_t ack = 2 + static_cast<std::int32_t>(random() % 12);
            const std::int32_t needed = ack + 2 + layout.DataBits() + layout.CrcWidth();
            // Most frames fit; some are cut short (truncated), some carry a wrong CRC.
            std::int32_t total = std::max(64, (needed + 3) / 4 * 4);
            if (i == 6) {
                total = std::max(4, (needed - 1 - static_cast<std::int32_t>(random() % 8)) / 4 * 4);
            }
            const auto flip = static_cast<std::uint16_t>(i == 5 ? 1 + random() % 7 : 0);
            std::string text = MakeFrameHex(layout, ack, random(), static_cast<std::uint8_t>(random()),
                                            flip, total);
            if (i == 7) {
                text = std::string(16, '0'); // no start bit
            }
            AddFrame(batch, static_cast<std::uint64_t>(10 + i), text);
        }

        for (const TOutputFormat format :
             {TOutputFormat::ofCsv, TOutputFormat::ofJsonl, TOutputFormat::ofTable}) {
            TRecordFormatter formatter(format, params, scale);
            formatter.SetSourceName("frames.txt");
            TOutBuffer out;
            for (const TCaptureFrame& frame : batch.Frames) {
                const std::string_view input = FrameInput(batch, frame);
                formatter.AppendRecord(out, frame, input, DecodeCaptureFrame(layout, frame, input));
            }
            std::istringstream lines{std::string(out.View())};
            for (const TCaptureFrame& frame : batch.Frames) {
                const std::string_view input = FrameInput(batch, frame);
                TFrameBits bits;
                ASSERT_TRUE(ParseFrameHex(input, bits));
                const TFrameFields f = DecodeFrameBits(layout, bits);
                const bool decoded = f.Outcome == TDecodeOutcome::doDecoded;
                std::string line;
                ASSERT_TRUE(std::getline(lines, line));

                std::map<std::string, std::string> v;
                if (format == TOutputFormat::ofCsv) {
                    static const char* names[] = {"source", "input", "outcome", "ack", "multiturn",
                                                  "position", "count", "error", "warning",
                                                  "crc_received", "crc_calculated", "crc_ok",
                                                  "truncated", "cds", "scaled", "unit"};
                    const std::vector<std::string> fields = SplitCsv(line);
                    ASSERT_EQ(fields.size(), scale.Enabled ? 16U : 14U) << line;
                    for (std::size_t j = 0; j < fields.size(); ++j) {
                        v[names[j]] = fields[j];
                    }
                } else if (format == TOutputFormat::ofJsonl) {
                    v = SplitJson(line);
                    for (auto& [key, value] : v) {
                        if (value.size() >= 2 && value.front() == '"') {
                            value = value.substr(1, value.size() - 2);
                        }
                    }
                } else {
                    std::istringstream cells(line);
                    std::vector<std::string> c{std::istream_iterator<std::string>(cells), {}};
                    ASSERT_EQ(c.size(), decoded ? 12U + (params.MultiTurnBits > 0) + 2 * scale.Enabled +
                                                      (f.AckLength + 1 < bits.Length ? 1 : 0)
                                                : 3U);
                    v["source"] = c[0];
                    v["input"] = c[1];
                    v["outcome"] = c[2];
                    if (decoded) {
                        std::size_t j = 3;
                        auto yes = [](const std::string& s) { return s == "yes" ? "true" : "false"; };
                        v["ack"] = c[j++];
                        v["multiturn"] = params.MultiTurnBits > 0 ? c[j++] : "0";
                        v["position"] = c[j++];
                        v["count"] = c[j++];
                        v["error"] = yes(c[j++]);
                        v["warning"] = yes(c[j++]);
                        v["crc_received"] = c[j++];
                        v["crc_calculated"] = c[j++];
                        v["crc_ok"] = yes(c[j++]);
                        v["truncated"] = yes(c[j++]);
                        v["cds"] = f.AckLength + 1 < bits.Length ? c[j++] : "";
                    }
                }
                SCOPED_TRACE(line);
                EXPECT_EQ(v["source"], "frames.txt:" + std::to_string(frame.Line));
                EXPECT_EQ(v["input"], input);
                if (!decoded) {
                    EXPECT_EQ(v["outcome"], "no_start_bit");
                    if (format != TOutputFormat::ofTable) {
                        const std::string absent = format == TOutputFormat::ofCsv ? "" : "null";
                        EXPECT_EQ(v["ack"], absent);
                        EXPECT_EQ(v["crc_ok"], absent);
                    }
                    continue;
                }
                EXPECT_EQ(v["outcome"], "decoded");
                EXPECT_EQ(ReadCount(v["ack"], false), static_cast<std::uint64_t>(f.AckLength));
                EXPECT_EQ(ReadCount(v["multiturn"], params.Signed), f.MultiTurn);
                EXPECT_EQ(ReadCount(v["position"], params.Signed && params.MultiTurnBits == 0), f.Position);
                EXPECT_EQ(ReadCount(v["count"], params.Signed), f.Count);
                EXPECT_EQ(v["error"], Bool(f.Error));
                EXPECT_EQ(v["warning"], Bool(f.Warning));
                EXPECT_EQ(ReadCount(v["crc_received"], false), f.CrcReceived);
                EXPECT_EQ(ReadCount(v["crc_calculated"], false), f.CrcCalculated);
                EXPECT_EQ(v["crc_ok"], Bool(f.CrcOk));
                EXPECT_EQ(v["truncated"], Bool(f.Truncated));
                // The CDS bit follows the start bit; a frame that ends before it has none.
                const std::int32_t cds = f.AckLength + 1;
                const std::string noCds = format == TOutputFormat::ofJsonl ? "null" : "";
                EXPECT_EQ(v["cds"], cds < bits.Length ? (bits.Bit(cds) ? "1" : "0") : noCds);
                if (scale.Enabled && format != TOutputFormat::ofTable) {
                    const double count = params.Signed ? static_cast<double>(AsSigned(f.Count))
                                                       : static_cast<double>(f.Count);
                    const double expected = scale.Factor * count;
                    // The shortest text reads back as the very same double.
                    EXPECT_EQ(std::strtod(v["scaled"].c_str(), nullptr), expected == 0 ? 0 : expected);
                    EXPECT_EQ(v["unit"], "deg");
                }
            }
        }
    }
}

TEST(Records, BadBytesAreEscapedInEveryFormat) {
    struct TCase {
        std::string Input;
        std::string Csv;
        std::string Json;
        std::string Table;
    };
    const TCase cases[] = {
        {"plain", "plain", "plain", "plain"},
        {"a,b", "\"a,b\"", "a,b", "a,b"},
        {"say \"hi\"", "\"say \"\"hi\"\"\"", "say \\\"hi\\\"", "say \"hi\""},
        {"tab\there", "\"tab\there\"", "tab\\there", "tab\\x09here"},
        {std::string("nul\0x", 5), std::string("\"nul\0x\"", 7), "nul\\u0000x", "nul\\x00x"},
        {"esc\x1B[31m", "\"esc\x1B[31m\"", "esc\\u001b[31m", "esc\\x1B[31m"},
        {"back\\slash", "back\\slash", "back\\\\slash", "back\\slash"},
        {"caf\xC3\xA9", "caf\xC3\xA9", "caf\xC3\xA9", "caf\xC3\xA9"},             // UTF-8 kept
        {"bad\xFF", "\"bad\xEF\xBF\xBD\"", "bad\xEF\xBF\xBD", "bad\xEF\xBF\xBD"}, // not UTF-8
        {"\xC3", "\"\xEF\xBF\xBD\"", "\xEF\xBF\xBD", "\xEF\xBF\xBD"},             // cut sequence
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\"", "\xEF\xBF\xBD\xEF\xBF\xBD",
         "\xEF\xBF\xBD\xEF\xBF\xBD"},                                             // overlong
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, // surrogate
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Input);
        EXPECT_EQ(CsvField(c.Input), c.Csv);
        EXPECT_EQ(JsonEscaped(c.Input), c.Json);
        EXPECT_EQ(TableText(c.Input), c.Table);
        EXPECT_LE(JsonEscaped(c.Input).size(), MaxEscapedSize(c.Input.size()));
    }
}

TEST(Records, InvalidRowsAndAnalyzerRowsInEachFormat) {
    const TFrameLayout layout;
    TCaptureBatch batch;
    AddFrame(batch, 3, "bad,\"line\"\n", TCaptureKind::ckInvalid);
    AddFrame(batch, 4, "C004XZ");
    AddFrame(batch, 5, "6450402,3,42", TCaptureKind::ckBissFields, TFrameData{26440930, 3, 42});
    TScale scale{true, 0.5, "mm,x"};
    struct TCase {
        TOutputFormat Format;
        std::string Name;
        std::string Expected;
    };
    const TCase cases[] = {
        {TOutputFormat::ofCsv, "a,b.csv",
         "\"a,b.csv:3\",\"bad,\"\"line\"\"\n\",invalid,,,,,,,,,,,,,\n"
         "\"a,b.csv:4\",C004XZ,invalid,,,,,,,,,,,,,\n"
         "\"a,b.csv:5\",\"6450402,3,42\",decoded,,0,26440930,26440930,false,false,42,21,true,false,"
         ",13220465,\"mm,x\"\n"},
        {TOutputFormat::ofJsonl, "-",
         "{\"source\":\"-:3\",\"input\":\"bad,\\\"line\\\"\\n\",\"outcome\":\"invalid\",\"ack\":null,"
         "\"multiturn\":null,\"position\":null,\"count\":null,\"error\":null,\"warning\":null,"
         "\"crc_received\":null,\"crc_calculated\":null,\"crc_ok\":null,\"truncated\":null,"
         "\"cds\":null,\"scaled\":null,\"unit\":null}\n"},
    };
    for (const TCase& c : cases) {
        TRecordFormatter formatter(c.Format, layout.Params(), scale);
        formatter.SetSourceName(c.Name);
        TOutBuffer out;
        for (const TCaptureFrame& frame : batch.Frames) {
            const std::string_view input = FrameInput(batch, frame);
            formatter.AppendRecord(out, frame, input, DecodeCaptureFrame(layout, frame, input));
        }
        EXPECT_EQ(std::string(out.View()).substr(0, c.Expected.size()), c.Expected);
    }
}

TEST(Records, OffsetsOutsideTheTextGiveAnEmptyInput) {
    TCaptureBatch batch;
    AddFrame(batch, 1, "C004C9BA71753000");
    batch.Frames[0].InputOffset = 10;
    EXPECT_EQ(FrameInput(batch, batch.Frames[0]), "");
    batch.Frames[0].InputOffset = 0xFFFFFFF0U;
    EXPECT_EQ(FrameInput(batch, batch.Frames[0]), "");
}

} // namespace

namespace {

TEST(Records, NumbersAreWrittenAsToCharsWritesThem) {
    std::vector<std::uint64_t> values = {0, 1, 9, 10, 99, 100, 999, 1000, 4294967295ULL,
                                         4294967296ULL, 9999999999ULL, 10000000000ULL,
                                         ~std::uint64_t{0}};
    for (std::uint64_t power = 1; power < 10000000000000000000ULL; power *= 10) {
        values.insert(values.end(), {power - 1, power, power + 1});
    }
    std::mt19937_64 random(5);
    for (int i = 0; i < 10000; ++i) {
        values.push_back(random() >> (random() % 64));
    }
    // Line numbers counted up, jumping now and then, across every carry up to 10^6.
    TLineText lines;
    std::uint64_t line = 0;
    for (int i = 0; i < 1100000; ++i) {
        line += i % 1000 == 999 ? 1 + random() % 5 : 1;
        char text[64];
        ASSERT_EQ(std::string(text, lines.Write(text, line)), std::to_string(line));
    }
    for (const std::uint64_t value : values) {
        char mine[MaxNumberChars];
        char theirs[MaxNumberChars];
        EXPECT_EQ(std::string(mine, WriteUnsigned(mine, value)),
                  std::string(theirs, std::to_chars(theirs, theirs + MaxNumberChars, value).ptr));
        const auto negative = static_cast<std::int64_t>(value);
        EXPECT_EQ(std::string(mine, WriteSigned(mine, negative)),
                  std::string(theirs, std::to_chars(theirs, theirs + MaxNumberChars, negative).ptr));
    }
}

} // namespace

namespace {

// The numbers of signal captures as tables show them: the texts of the values the sample
// captures give (a clock a hair under 1 MHz, a delay a hair over 250 ns), carries into the
// next digit, signs and the values with no finite text.
TEST(TableNumbers, EachKindByItsRule) {
    struct TCase {
        char* (*Write)(char*, double);
        double Value;
        std::string_view Text;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const TCase cases[] = {
        {WriteTableSeconds, 1.2e-05, "0.000012000"},
        {WriteTableSeconds, 5.7000000000001494e-05, "0.000057000"},
        {WriteTableSeconds, 0.123456789512345, "0.123456790"},
        {WriteTableSeconds, 0.0, "0.000000000"},
        {WriteTableSeconds, -0.0, "0.000000000"},
        {WriteTableSeconds, 1234.5, "1234.500000000"},
        {WriteTableHertz, 999999.9999999994, "1000000"},
        {WriteTableHertz, 999999.9999989999, "1000000"},
        {WriteTableHertz, 19186.762893856718, "19186.76"},
        {WriteTableHertz, 2500000.0 / 3.0, "833333.3"},
        {WriteTableHertz, 99999.996, "100000.0"},
        {WriteTableHertz, 12345678.9, "12345679"},
        {WriteTableHertz, 0.5, "0.5000000"},
        {WriteTableHertz, -1234.56789, "-1234.568"},
        {WriteTableHertz, 0.0, "0"},
        {WriteTableHertz, inf, "inf"},
        {WriteTableDelay, 2.500000000000061e-07, "2.500e-07"},
        {WriteTableDelay, 2.499999999967806e-07, "2.500e-07"},
        {WriteTableDelay, 1.23456e-6, "1.235e-06"},
        {WriteTableDelay, 9.9996e-8, "1.000e-07"},
        {WriteTableDelay, -0.0, "0.000e+00"},
    };
    for (const TCase& c : cases) {
        char text[MaxNumberChars];
        EXPECT_EQ(std::string_view(text, static_cast<std::size_t>(c.Write(text, c.Value) - text)), c.Text)
            << c.Value;
    }
}

// Rounded to n significant digits, the text reads back within half a unit of its last digit,
// and has n digits unless the integer part alone has more.
TEST(TableNumbers, SignificantDigitsOfRandomValues) {
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    for (int i = 0; i < 20000; ++i) {
        const int digits = 1 + static_cast<int>(random() % 9);
        const int exponent = static_cast<int>(random() % 25) - 12;
        const double value = mantissa(random) * std::pow(10.0, exponent);
        char text[MaxNumberChars];
        const std::string written(text, WriteSignificant(text, value, digits));
        ASSERT_EQ(written.find('e'), std::string::npos) << written;
        const double back = std::stod(written);
        const int leading = static_cast<int>(std::floor(std::log10(back)));
        EXPECT_LE(std::fabs(back - value), 0.5000001 * std::pow(10.0, leading - digits + 1))
            << value << " to " << digits << ": " << written;
        std::size_t shown = 0;
        bool nonZeroSeen = false;
        for (const char c : written) {
            nonZeroSeen = nonZeroSeen || (c >= '1' && c <= '9');
            shown += nonZeroSeen && c >= '0' && c <= '9' ? 1 : 0;
        }
        EXPECT_EQ(shown, static_cast<std::size_t>(std::max(digits, leading + 1)))
            << value << " to " << digits << ": " << written;
    }
}

} // namespace
