#include "cli/options.h"

#include "capture/textutil.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>

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

// The input formats as --help and the manual list them: each name of the registry with its
// line, in the order in which --input auto tries them.
std::string InputFormatsText() {
    std::size_t width = AutoFormatName.size();
    for (const TInputFormatInfo* info : InputFormats()) {
        width = std::max(width, info->Name.size());
    }
    std::string text = "Input formats (--input), in the order auto tries them:\n";
    for (const TInputFormatInfo* info : InputFormats()) {
        text += "  ";
        text += info->Name;
        text.append(width + 2 - info->Name.size(), ' ');
        text += info->Summary;
        text += "\n";
    }
    return text;
}

struct TUsageError {
    std::string Message;
};

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

// An option's number: the project's rule (decimal, or hexadecimal after 0x; a leading zero
// is decimal) checked with CLI::Range, the value handed on as decimal digits, since CLI11's
// own integer conversion would read "010" as octal.
CLI::Validator OptionNumber(std::uint64_t lowest, std::uint64_t highest) {
    const CLI::Range range(lowest, highest);
    return CLI::Validator(
        [range, lowest, highest](std::string& text) -> std::string {
            std::uint64_t value = 0;
            if (!ParseOptionNumber(text, value)) {
                return "\"" + text + "\" is not a number (decimal, or hexadecimal after 0x)";
            }
            const std::string given = text;
            text = std::to_string(value);
            if (!range(text).empty()) {
                return given + " is outside " + std::to_string(lowest) + " to " + std::to_string(highest);
            }
            return {};
        },
        "", "NUMBER");
}

// `validator` (a CLI11 name check) with its failure said as "VALUE" is not one of NAMES.
CLI::Validator OneOf(CLI::Validator validator, std::string names) {
    return CLI::Validator(
        [validator, names](std::string& text) -> std::string {
            const std::string given = text;
            if (!validator(text).empty()) {
                return "\"" + given + "\" is not one of " + names;
            }
            return {};
        },
        "", "NAME");
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

bool ParseOptionNumber(std::string_view text, std::uint64_t& value) { return ParseDecimalOrHex(text, value); }

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
    app.footer(InputFormatsText() + "\n" + Footer);
    app.get_formatter()->column_width(26);
    app.set_help_flag("-h,--help", "Print this help and exit");
    app.set_version_flag("--version", VersionText(), "Print the version and exit");
    // CLI11 takes "/name" and "/name:value" as options on Windows unless told otherwise; here
    // they are file names (a path from the drive's root), as on every other system.
    app.allow_windows_style_options(false);

    TProgramOptions o;
    TFrameLayoutParams& l = o.Layout;
    std::string scale;
    bool notInverted = false, gray = false, isSigned = false;
    bool summaryFlag = false, scanFlag = false, registersFlag = false;
    // The core checks the layout's ranges and says what is wrong; these bounds only keep the
    // numbers inside the parameters' types.
    constexpr std::uint64_t intMax = std::numeric_limits<std::int32_t>::max();

    const std::string layout = "Layout (defaults: the window's layout)";
    app.add_option("-n,--length", l.PositionBits, "Single-turn position bits, 1 to 64 (default 26)")
        ->transform(OptionNumber(0, intMax))->option_text("N")->group(layout);
    app.add_option("--multiturn", l.MultiTurnBits, "Multi-turn bits, 0 to 32 (default 0)")
        ->transform(OptionNumber(0, intMax))->option_text("M")->group(layout);
    app.add_option("--status-bits", l.StatusBits, "Status bits: 0, 1 (nE) or 2 (nE, nW) (default 2)")
        ->transform(OptionNumber(0, intMax))->option_text("K")->group(layout);
    CLI::Option* crc = app.add_option("--crc", l.CrcPolynomial,
                                      "CRC polynomial in BiSS notation with its top bit\n"
                                      "(default 0x43: x^6 + x + 1)")
        ->transform(OptionNumber(0, UINT32_MAX))->option_text("POLY")->group(layout);
    app.add_option("--crc-start", l.CrcStart, "CRC register start value (default 0)")
        ->transform(OptionNumber(0, UINT32_MAX))->option_text("S")->group(layout);
    app.add_flag("--crc-not-inverted", notInverted, "The CRC is sent as computed (default: inverted)")
        ->group(layout);
    app.add_flag("--gray", gray, "Multi-turn and single-turn bits are Gray-coded")->group(layout);
    app.add_flag("--signed", isSigned, "Two's complement: the multi-turn count, or the\n"
                                       "position when there are no multi-turn bits")
        ->group(layout);

    app.add_option("--scale", scale, "Add the scaled position NUM / DEN x count, e.g.\n"
                                     "360/67108864:deg (NUM, DEN: decimal numbers)")
        ->option_text("NUM/DEN[:UNIT]")->group("Scale");

    std::map<std::string, std::string> inputNames{{std::string(AutoFormatName), std::string(AutoFormatName)}};
    std::string inputList(AutoFormatName);
    for (const TInputFormatInfo* info : InputFormats()) {
        inputNames.emplace(info->Name, info->Name);
        inputList += ", ";
        inputList += info->Name;
    }
    app.add_option("--input", o.Reader.Format, "The input's format (default auto: recognised from\n"
                                               "the input; the formats are listed below)")
        ->transform(OneOf(CLI::CheckedTransformer(inputNames), inputList))
        ->option_text("FORMAT")->group("Input");
    app.add_option("--column", o.Reader.Column, "The CSV column of the frame, or the data line of\n"
                                                "an SPI export (default miso)")
        ->option_text("NAME")->group("Input");
    app.add_option("--frame-bytes", o.Reader.FrameBytes, "Bytes per frame, 1 to 32, where the input marks\n"
                                                         "no frame boundary")
        ->transform(OptionNumber(1, 32))->option_text("N")->group("Input");
    app.add_option("--clock", o.Reader.ClockChannel, "Signal captures: the clock (MA) channel, by name\n"
                                                     "or 0-based number (default: by its usual names)")
        ->option_text("NAME|N")->group("Input");
    app.add_option("--data", o.Reader.DataChannel, "Signal captures: the data (SLO) channel, by name\n"
                                                   "or 0-based number (default: by its usual names)")
        ->option_text("NAME|N")->group("Input");

    const std::map<std::string, TOutputFormat> formatNames{
        {"csv", TOutputFormat::ofCsv}, {"jsonl", TOutputFormat::ofJsonl}, {"table", TOutputFormat::ofTable}};
    CLI::Option* format = app.add_option("--format", o.Format,
                                         "csv, jsonl or table (default: table on a terminal,\n"
                                         "csv otherwise; table for --summary and --scan)")
        ->transform(OneOf(CLI::CheckedTransformer(formatNames), "csv, jsonl, table"))
        ->option_text("FORMAT")->group("Output");
    CLI::Option* summary = app.add_flag("--summary", summaryFlag, ("Print the summary instead of the records"))
        ->group("Output");
    CLI::Option* scan = app.add_flag("--scan", scanFlag, ("Find the layouts under which the frames pass\n"
                                               "(the CRC options only: --crc adds a polynomial)"))
        ->group("Output");
    CLI::Option* registers = app.add_flag("--registers", registersFlag, ("Print the register accesses of the frames'\n"
                                                         "control bits (CDM and CDS)"))
        ->group("Output");
    summary->excludes(scan);
    registers->excludes(scan);
    app.add_option("--threads", o.Threads, "Decoding threads, 1 to 64 (default: the processors\n"
                                           "for a file, 1 for a pipe or a terminal)")
        ->transform(OptionNumber(1, 64))->option_text("N")->group("Output");
    app.add_option("FILE", o.Files, "Capture files, read one after another; - is standard\n"
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
        const std::string choose = dynamic_cast<const CLI::ExcludesError*>(&e) != nullptr ? ": choose one" : "";
        result.Error = std::string(ProgramName) + ": " + e.what() + choose + "\nRun " +
                       std::string(ProgramName) + " --help for the options.\n";
        return result;
    }

    try {
        const bool scanning = scan->count() > 0;
        if (scanning) {
            for (const char* name : {"--length", "--multiturn", "--status-bits", "--crc-not-inverted",
                                     "--gray", "--signed", "--scale"}) {
                if (app.count(name) > 0) {
                    throw TUsageError{std::string(name) +
                                      " does not go with --scan, which tries every length "
                                      "(of its CRC options only --crc and --crc-start count)"};
                }
            }
        }
        o.CrcGiven = crc->count() > 0;
        o.FormatGiven = format->count() > 0;
        l.CrcInverted = !notInverted;
        l.Coding = gray ? TPositionCoding::pcGray : TPositionCoding::pcBinary;
        l.Signed = isSigned;

        if (scanning) {
            o.Mode = TRunMode::rmScan;
            // Only the CRC options matter: --crc adds a polynomial, --crc-start is the start
            // value; each must fit some polynomial the scan tries.
            TFrameLayoutParams check;
            check.CrcPolynomial = l.CrcPolynomial;
            if (const std::string problem = TFrameLayout::CheckParams(check); !problem.empty()) {
                throw TUsageError{problem};
            }
            if (l.CrcStart > 0xFFFF) {
                throw TUsageError{"--crc-start: " + app["--crc-start"]->as<std::string>() +
                                  " does not fit in any CRC the scan tries (16 bits at most)"};
            }
        } else if (const std::string problem = TFrameLayout::CheckParams(l); !problem.empty()) {
            throw TUsageError{problem};
        }
        if (summary->count() > 0) {
            o.Mode = TRunMode::rmSummary;
        }
        if (registers->count() > 0) {
            o.Mode = summary->count() > 0 ? TRunMode::rmRegisterMap : TRunMode::rmRegisters;
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
        options = std::move(o);
    } catch (const TUsageError& e) {
        result.ExitStatus = 2;
        result.Error = std::string(ProgramName) + ": " + e.Message + "\n";
        return result;
    }
    result.Run = true;
    return result;
}
