// The input formats corvane-decode reads, one module each (formats/), most specific first:
// the order in which --input auto tries them, and in which --help and the manual list them.
// Adding a format is one file in formats/ and one line here.
#include "capture/inputformat.h"

extern const TInputFormatModule SigrokSessionFormat;
extern const TInputFormatModule SaleaeBinaryFormat;
extern const TInputFormatModule BinaryFormat;
extern const TInputFormatModule VcdFormat;
extern const TInputFormatModule SaleaeDigitalFormat;
extern const TInputFormatModule SaleaeTableFormat;
extern const TInputFormatModule SaleaeSpiFormat;
extern const TInputFormatModule SaleaeBissFormat;
extern const TInputFormatModule CsvFormat;
extern const TInputFormatModule PulseViewFormat;
extern const TInputFormatModule SigrokFormat;
extern const TInputFormatModule HexdumpFormat;
extern const TInputFormatModule HexFormat;

const std::vector<const TInputFormatModule*>& InputFormatModules() {
    static const std::vector<const TInputFormatModule*> modules = {
        &SigrokSessionFormat, // a zip archive with a session's members
        &SaleaeBinaryFormat,  // "<SALEAE>" files, or a folder of them
        &BinaryFormat,      // bytes no text holds
        &VcdFormat,         // $-keywords of a value change dump
        &SaleaeDigitalFormat, // header Time [s] and rows of 0, 1, X
        &SaleaeTableFormat, // header: name, type, start_time
        &SaleaeSpiFormat,   // header: Time [s], Packet ID
        &SaleaeBissFormat,  // header: DATA, ERR-WARN, CRC
        &CsvFormat,         // header with the chosen column
        &PulseViewFormat,   // "START-END DECODER: ROW: TEXT" lines
        &SigrokFormat,      // "[START-END ]ID: TEXT" lines
        &HexdumpFormat,     // offsets that follow on, then bytes
        &HexFormat,         // hex digits and separators, or nothing but blanks
    };
    return modules;
}
