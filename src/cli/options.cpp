#include "options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#ifndef CORVANE_DECODE_VERSION
#define CORVANE_DECODE_VERSION "0.0.0"
#endif

namespace {

constexpr std::string_view ProgramName = "corvane-decode";

const char* const Description =
    "Decodes captured BiSS-C single-cycle frames: one record per frame with its\n"
    "fields and its CRC checked, a summary of the whole capture, or the layouts\n"
    "under which the frames pass. Reads each FILE in turn; no FILE, or -, reads\n"
    "standard input.";

const char* const Footer =
    "Numbers written with 0x are hexadecimal, others decimal. The input format is\n"
    "recognised from the first lines unless --input names it.\n\n"
    "Exit status: 0 when every frame decoded with a good CRC (--scan: a layout\n"
    "passed every frame), 1 otherwise or when the input holds no frame, 2 for a\n"
    "usage error or an input that cannot be read.";

struct TUsageError {
    std::string Message;
};

// Parses an option's number and checks its range; throws TUsageError naming the option.
std::uint64_t OptionNumber(std::string_view option, const std::string& text, std::uint64_t lowest,
                           std::uint64_t highest) {
    std::uint64_t value = 0;
    if (!ParseOptionNumber(text, value)) {
        throw TUsageError{std::string(option) + ": \"" + text +
                          "\" is not a number (decimal, or hexadecimal after 0x)"};
    }
    if (value < lowest || value > highest) {
        throw TUsageError{std::string(option) + ": " + text + " is outside " +
                          std::to_string(lowest) + " to " + std::to_string(highest)};
    }
    return value;
}

// A decimal number: optional sign, digits with an optional point, optional exponent.
bool IsDecimalNumber(std::string_view text) {
    std::size_t i = 0;
    auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
        }
        return i - start;
    };
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        ++i;
    }
    std::size_t mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0) {
        return false;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
            ++i;
        }
        if (digits() == 0) {
            return false;
        }
    }
    return i == text.size();
}

bool ParseScaleNumber(std::string_view text, double& value) {
    const bool negative = !text.empty() && text[0] == '-';
    std::string_view unsignedText = text;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        unsignedText.remove_prefix(1);
    }
    if (unsignedText.size() > 2 && unsignedText[0] == '0' &&
        (unsignedText[1] == 'x' || unsignedText[1] == 'X')) {
        std::uint64_t integer = 0;
        if (!ParseOptionNumber(unsignedText, integer)) {
            return false;
        }
        value = negative ? -static_cast<double>(integer) : static_cast<double>(integer);
        return true;
    }
    if (!IsDecimalNumber(text)) {
        return false;
    }
    // from_chars takes no leading plus sign.
    const std::string_view number = text[0] == '+' ? text.substr(1) : text;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    return result.ec == std::errc() && result.ptr == number.data() + number.size();
}

TOutputFormat ParseFormatName(const std::string& name) {
    if (name == "csv") {
        return TOutputFormat::ofCsv;
    }
    if (name == "jsonl") {
        return TOutputFormat::ofJsonl;
    }
    if (name == "table") {
        return TOutputFormat::ofTable;
    }
    throw TUsageError{"--format: \"" + name + "\" is not one of csv, jsonl, table"};
}

// CLI11's layout with the usage line first, as help2man reads it, then the description.
class THelpFormatter : public CLI::Formatter {
public:
    std::string make_description(const CLI::App*) const override { return {}; }
    std::string make_usage(const CLI::App* app, std::string name) const override {
        return CLI::Formatter::make_usage(app, name) + "\n" + app->get_description() + "\n";
    }
};

} // namespace

bool ParseOptionNumber(std::string_view text, std::uint64_t& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text[0] == '+' || text[0] == '-') {
        return false;
    }
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool ParseScaleText(std::string_view text, TScale& scale, std::string& error) {
    const std::size_t colon = text.find(':');
    const std::string_view numbers = text.substr(0, colon);
    const std::size_t slash = numbers.find('/');
    double numerator = 0;
    double denominator = 0;
    if (slash == std::string_view::npos || !ParseScaleNumber(numbers.substr(0, slash), numerator) ||
        !ParseScaleNumber(numbers.substr(slash + 1), denominator)) {
        error = "--scale: \"" + std::string(text) +
                "\" is not NUM/DEN[:UNIT], e.g. 360/67108864:deg (NUM and DEN decimal numbers "
                "or 0x hexadecimal integers)";
        return false;
    }
    const double factor = numerator / denominator;
    if (!std::isfinite(factor) || factor == 0) {
        error = "--scale: the factor " + std::string(numbers) + " is " +
                (denominator == 0 ? "a division by zero" : factor == 0 ? "zero" : "not finite") +
                "; give a non-zero finite NUM/DEN";
        return false;
    }
    scale.Enabled = true;
    scale.Factor = factor;
    scale.Unit = colon == std::string_view::npos ? std::string() : std::string(text.substr(colon + 1));
    return true;
}

std::string VersionText() {
    return std::string(ProgramName) + " (Corvane) " CORVANE_DECODE_VERSION "\n";
}

TParseResult ParseCommandLine(const std::vector<std::string>& args, TProgramOptions& options) {
    CLI::App app(Description, std::string(ProgramName));
    app.formatter(std::make_shared<THelpFormatter>());
    app.footer(Footer);
    app.get_formatter()->column_width(26);
    app.set_help_flag("-h,--help", "Print this help and exit");
    app.set_version_flag("--version", VersionText(), "Print the version and exit");
    // CLI11 takes "/name" and "/name:value" as options on Windows unless told otherwise; here
    // they are file names (a path from the drive's root), as on every other system.
    app.allow_windows_style_options(false);

    std::string length, multiturn, statusBits, crc, crcStart, scale, input, column, frameBytes,
        format, threads;
    bool notInverted = false, gray = false, isSigned = false, summary = false, scan = false;
    std::vector<std::string> files;

    const std::string layout = "Layout (defaults: the window's layout)";
    app.add_option("-n,--length", length, "Single-turn position bits, 1 to 64 (default 26)")
        ->option_text("N")->group(layout);
    app.add_option("--multiturn", multiturn, "Multi-turn bits, 0 to 32 (default 0)")
        ->option_text("M")->group(layout);
    app.add_option("--status-bits", statusBits, "Status bits: 0, 1 (nE) or 2 (nE, nW) (default 2)")
        ->option_text("K")->group(layout);
    app.add_option("--crc", crc, "CRC polynomial in BiSS notation with its top bit\n"
                                 "(default 0x43: x^6 + x + 1)")
        ->option_text("POLY")->group(layout);
    app.add_option("--crc-start", crcStart, "CRC register start value (default 0)")
        ->option_text("S")->group(layout);
    app.add_flag("--crc-not-inverted", notInverted, "The CRC is sent as computed (default: inverted)")
        ->group(layout);
    app.add_flag("--gray", gray, "Multi-turn and single-turn bits are Gray-coded")->group(layout);
    app.add_flag("--signed", isSigned, "Two's complement: the multi-turn count, or the\n"
                                       "position when there are no multi-turn bits")
        ->group(layout);

    app.add_option("--scale", scale, "Add the scaled position NUM / DEN x count, e.g.\n"
                                     "360/67108864:deg (NUM, DEN: decimal numbers)")
        ->option_text("NUM/DEN[:UNIT]")->group("Scale");

    app.add_option("--input", input, "auto, hex, csv, saleae-table, saleae-spi,\n"
                                     "saleae-biss, sigrok or binary (default auto)")
        ->option_text("FORMAT")->group("Input");
    app.add_option("--column", column, "The CSV column of the frame, or the data line of\n"
                                       "an SPI export (default miso)")
        ->option_text("NAME")->group("Input");
    app.add_option("--frame-bytes", frameBytes, "Bytes per frame, 1 to 32, where the input marks\n"
                                                "no frame boundary")
        ->option_text("N")->group("Input");

    app.add_option("--format", format, "csv, jsonl or table (default: table on a terminal,\n"
                                       "csv otherwise; table for --summary and --scan)")
        ->option_text("FORMAT")->group("Output");
    app.add_flag("--summary", summary, "Print the summary instead of the records")->group("Output");
    app.add_flag("--scan", scan, "Find the layouts under which the frames pass\n"
                                 "(the CRC options only: --crc adds a polynomial)")
        ->group("Output");
    app.add_option("--threads", threads, "Decoding threads, 1 to 64 (default: the processors\n"
                                         "for a file, 1 for a pipe or a terminal)")
        ->option_text("N")->group("Output");
    app.add_option("FILE", files, "Capture files, read one after another; - is standard\n"
                                  "input")
        ->option_text("...");

    TParseResult result;
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(std::move(reversed));
    } catch (const CLI::CallForHelp&) {
        result.Output = app.help();
        return result;
    } catch (const CLI::CallForAllHelp&) {
        result.Output = app.help("", CLI::AppFormatMode::All);
        return result;
    } catch (const CLI::CallForVersion&) {
        result.Output = VersionText();
        return result;
    } catch (const CLI::ParseError& e) {
        result.ExitStatus = 2;
        result.Error = std::string(ProgramName) + ": " + e.what() + "\nRun " +
                       std::string(ProgramName) + " --help for the options.\n";
        return result;
    }

    try {
        if (summary && scan) {
            throw TUsageError{"--summary and --scan: choose one"};
        }
        if (scan) {
            for (const char* name : {"--length", "--multiturn", "--status-bits", "--crc-not-inverted",
                                     "--gray", "--signed", "--scale"}) {
                if (app.count(name) > 0) {
                    throw TUsageError{std::string(name) +
                                      " does not go with --scan, which tries every length "
                                      "(of its CRC options only --crc and --crc-start count)"};
                }
            }
        }
        TProgramOptions o;
        TFrameLayoutParams& l = o.Layout;
        // The core checks the layout's ranges and says what is wrong; these bounds only keep
        // the numbers inside the parameters' types.
        constexpr std::uint64_t intMax = std::numeric_limits<std::int32_t>::max();
        if (!length.empty()) {
            l.PositionBits = static_cast<std::int32_t>(OptionNumber("--length", length, 0, intMax));
        }
        if (!multiturn.empty()) {
            l.MultiTurnBits = static_cast<std::int32_t>(OptionNumber("--multiturn", multiturn, 0, intMax));
        }
        if (!statusBits.empty()) {
            l.StatusBits = static_cast<std::int32_t>(OptionNumber("--status-bits", statusBits, 0, intMax));
        }
        if (!crc.empty()) {
            l.CrcPolynomial = static_cast<std::uint32_t>(OptionNumber("--crc", crc, 0, UINT32_MAX));
            o.CrcGiven = true;
        }
        if (!crcStart.empty()) {
            l.CrcStart = static_cast<std::uint32_t>(OptionNumber("--crc-start", crcStart, 0, UINT32_MAX));
        }
        l.CrcInverted = !notInverted;
        l.Coding = gray ? TPositionCoding::pcGray : TPositionCoding::pcBinary;
        l.Signed = isSigned;

        if (scan) {
            o.Mode = TRunMode::rmScan;
            // Only the CRC options matter: --crc adds a polynomial, --crc-start is the start
            // value; each must fit some polynomial the scan tries.
            TFrameLayoutParams check;
            check.CrcPolynomial = l.CrcPolynomial;
            if (const std::string problem = TFrameLayout::CheckParams(check); !problem.empty()) {
                throw TUsageError{problem};
            }
            if (l.CrcStart > 0xFFFF) {
                throw TUsageError{"--crc-start: " + crcStart +
                                  " does not fit in any CRC the scan tries (16 bits at most)"};
            }
        } else if (const std::string problem = TFrameLayout::CheckParams(l); !problem.empty()) {
            throw TUsageError{problem};
        }
        if (summary) {
            o.Mode = TRunMode::rmSummary;
        }

        if (!scale.empty()) {
            std::string error;
            if (!ParseScaleText(scale, o.Scale, error)) {
                throw TUsageError{error};
            }
            // The largest count times the factor must stay a number that the records can write.
            const double largest = std::ldexp(std::fabs(o.Scale.Factor), l.MultiTurnBits + l.PositionBits);
            if (!std::isfinite(largest)) {
                throw TUsageError{"--scale: " + scale +
                                  " makes the scaled positions of this layout too large to write"};
            }
        }

        if (!input.empty()) {
            if (input != AutoFormatName && FindInputFormat(input) == nullptr) {
                std::string known(AutoFormatName);
                for (const TInputFormatInfo* info : InputFormats()) {
                    known += ", ";
                    known += info->Name;
                }
                throw TUsageError{"--input: \"" + input + "\" is not one of " + known};
            }
            o.Reader.Format = input;
        }
        o.Reader.Column = column;
        if (!frameBytes.empty()) {
            o.Reader.FrameBytes = static_cast<std::uint32_t>(OptionNumber("--frame-bytes", frameBytes, 1, 32));
        }
        if (!format.empty()) {
            o.Format = ParseFormatName(format);
            o.FormatGiven = true;
        }
        if (!threads.empty()) {
            o.Threads = static_cast<unsigned>(OptionNumber("--threads", threads, 1, 64));
        }
        o.Files = files;
        options = std::move(o);
    } catch (const TUsageError& e) {
        result.ExitStatus = 2;
        result.Error = std::string(ProgramName) + ": " + e.Message + "\n";
        return result;
    }
    result.Run = true;
    return result;
}
