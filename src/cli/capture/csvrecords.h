// RFC 4180 records on top of the line reader: quoted fields, doubled quotes, line breaks inside
// quotes, a comma or a TAB as the delimiter.
#pragma once

#include "capture/linereader.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TCsvRecord {
    std::uint64_t Line = 0; // the record's first line
    // The record as read, its lines joined by LF; only its first MaxLineBytes when TooLong.
    std::string_view Raw;
    // The fields, unquoted; empty when TooLong or Unterminated.
    std::vector<std::string_view> Fields;
    bool TooLong = false;      // the record is longer than MaxLineBytes
    bool Unterminated = false; // a quoted field is still open at the end of the input
};

class TCsvRecordReader {
public:
    explicit TCsvRecordReader(TLineReader& lines) : FLines(lines) {}

    void SetDelimiter(char delimiter) { FDelimiter = delimiter; }
    char Delimiter() const { return FDelimiter; }

    // Reads the next record, skipping lines that are empty or blank. The record's texts stay
    // valid until the next call. Returns false at the end of the input, or when the line
    // reader paused before a record (see TLineReader::SetPauseAllowed).
    bool Next(TCsvRecord& record);

    // Splits record.Raw again with the current delimiter (after SetDelimiter, for the header).
    void Resplit(TCsvRecord& record);

private:
    bool Collect(TLinePiece piece, TCsvRecord& record);

    TLineReader& FLines;
    char FDelimiter = ',';
    std::string FRaw;     // a record that spans lines or holds quotes
    std::string FScratch; // the unquoted fields
};

// Splits `raw` into fields at `delimiter`, unquoting quoted fields into `scratch` (which the
// returned views may point into).
void SplitCsvText(std::string_view raw, char delimiter, std::vector<std::string_view>& fields,
                  std::string& scratch);

// The delimiter of a header row: TAB when it holds more TABs than commas outside quotes,
// else comma.
char DetectCsvDelimiter(std::string_view header);

// A header name as compared with a wanted column: without blanks and one pair of quotes
// around it.
std::string_view NormalizeColumnName(std::string_view name);

// The index of the field named `name` (case-insensitive, normalized), or -1.
int FindColumn(const std::vector<std::string_view>& header, std::string_view name);

// The header's columns for a message: "a", "b", "c" (shortened when there are many).
std::string ListColumns(const std::vector<std::string_view>& header);
