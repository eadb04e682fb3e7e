// The command line of corvane-decode, parsed with CLI11: the layout, the scale, the input
// and output options and the files. Every usage error ends the program with status 2 and a
// message; --help and --version end it with status 0.
#pragma once

#include "capture/capture.h"
#include "decode/framelayout.h"
#include "cli/records.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class TRunMode {
    rmRecords, // one record per frame
    rmSummary, // the summary of all frames
    rmScan,    // the layouts under which the frames pass
    rmRegisters, // the register accesses of the frames' control bits
    rmRegisterMap, // the registers those accesses reached (--registers --summary)
};

struct TProgramOptions {
    TFrameLayoutParams Layout;
    bool CrcGiven = false; // --crc was given (--scan tries it besides the usual polynomials)
    TScale Scale;
    TReaderOptions Reader;
    bool FormatGiven = false;
    TOutputFormat Format = TOutputFormat::ofCsv;
    TRunMode Mode = TRunMode::rmRecords;
    unsigned Threads = 0; // 0: chosen for each input (its processors for a file, 1 for a pipe)
    std::vector<std::string> Files; // as given; empty for standard input
};

// What parsing decided: go on with the options, or stop with a status and texts.
struct TParseResult {
    bool Run = false;
    int ExitStatus = 0;
    std::string Output; // for standard output: the help or the version
    std::string Error;  // for standard error: the usage error
};

// Parses the arguments after the program name (UTF-8).
TParseResult ParseCommandLine(const std::vector<std::string>& args, TProgramOptions& options);

// "corvane-decode (Corvane) 1.0.0" and the lines --version prints after it.
std::string VersionText();

// A number as options take it: decimal digits, or hexadecimal digits after "0x" or "0X".
// False for anything else, including values above 2^64 - 1.
bool ParseOptionNumber(std::string_view text, std::uint64_t& value);
// "NUM/DEN[:UNIT]": NUM and DEN are decimal numbers (sign, digits, a point, an exponent) or
// 0x hexadecimal integers; the factor NUM / DEN must be finite and not zero. False with a
// message in `error` otherwise.
bool ParseScaleText(std::string_view text, TScale& scale, std::string& error);
