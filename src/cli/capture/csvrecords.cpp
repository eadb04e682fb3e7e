#include "capture/csvrecords.h"

#include <cstring>

namespace {

bool IsBlankText(std::string_view text) {
    for (const char c : text) {
        if (!IsBlankByte(c)) {
            return false;
        }
    }
    return true;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

bool TCsvRecordReader::Next(TCsvRecord& record) {
    TLinePiece piece;
    for (;;) {
        if (!FLines.Next(piece)) {
            return false;
        }
        if (piece.First && piece.Last && piece.Text.size() <= MaxLineBytes) {
            const std::string_view text = piece.Text;
            if (IsBlankText(text)) {
                continue;
            }
            if (std::memchr(text.data(), '"', text.size()) == nullptr) {
                // The common case: a whole line without quotes, split in place.
                record.Line = piece.Line;
                record.Raw = text;
                record.TooLong = false;
                record.Unterminated = false;
                SplitCsvText(text, FDelimiter, record.Fields, FScratch);
                return true;
            }
        }
        if (Collect(piece, record)) {
            return true;
        }
    }
}

bool TCsvRecordReader::Collect(TLinePiece piece, TCsvRecord& record) {
    FRaw.clear();
    record.Line = piece.Line;
    record.TooLong = false;
    record.Unterminated = false;
    bool inQuotes = false;
    bool blank = true;
    bool singleLine = true;
    for (;;) {
        const std::string_view text = piece.Text;
        if (!record.TooLong) {
            if (FRaw.size() + text.size() > MaxLineBytes) {
                FRaw.append(text.substr(0, MaxLineBytes - FRaw.size()));
                record.TooLong = true;
            } else {
                FRaw.append(text);
            }
        }
        blank = blank && IsBlankText(text);
        // Doubled quotes toggle twice, so the parity of the quotes tells whether a quoted
        // field is open.
        for (const char c : text) {
            inQuotes = inQuotes != (c == '"');
        }
        if (piece.Last) {
            if (!inQuotes) {
                break;
            }
            // A line break inside a quoted field belongs to the field.
            singleLine = false;
            if (!record.TooLong) {
                if (FRaw.size() + 1 > MaxLineBytes) {
                    record.TooLong = true;
                } else {
                    FRaw.push_back('\n');
                }
            }
        }
        // The rest of a record is never waited out: a quoted field goes on to its end.
        const bool pauseAllowed = FLines.PauseAllowed();
        FLines.SetPauseAllowed(false);
        const bool more = FLines.Next(piece);
        FLines.SetPauseAllowed(pauseAllowed);
        if (!more) {
            record.Unterminated = true;
            if (piece.Last && !record.TooLong && !FRaw.empty()) {
                FRaw.pop_back(); // the line break added above ended the input
            }
            break;
        }
    }
    if (blank && singleLine && !record.Unterminated) {
        return false; // a long blank line: no record
    }
    record.Raw = FRaw;
    record.Fields.clear();
    if (!record.TooLong && !record.Unterminated) {
        SplitCsvText(FRaw, FDelimiter, record.Fields, FScratch);
    }
    return true;
}

void TCsvRecordReader::Resplit(TCsvRecord& record) {
    record.Fields.clear();
    if (!record.TooLong && !record.Unterminated) {
        // Raw may point into FScratch's sibling FRaw or into the line buffer; neither changes.
        SplitCsvText(record.Raw, FDelimiter, record.Fields, FScratch);
    }
}

void SplitCsvText(std::string_view raw, char delimiter, std::vector<std::string_view>& fields,
                  std::string& scratch) {
    fields.clear();
    scratch.clear();
    // Unquoting never lengthens a field, so the views into scratch stay valid.
    scratch.reserve(raw.size());
    const std::size_t n = raw.size();
    std::size_t i = 0;
    for (;;) {
        if (i < n && raw[i] == '"') {
            const std::size_t start = scratch.size();
            ++i;
            while (i < n) {
                const char c = raw[i];
                if (c == '"') {
                    if (i + 1 < n && raw[i + 1] == '"') {
                        scratch.push_back('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                scratch.push_back(c);
                ++i;
            }
            // Text after the closing quote, up to the delimiter, is kept with the field.
            while (i < n && raw[i] != delimiter) {
                scratch.push_back(raw[i++]);
            }
            fields.emplace_back(scratch.data() + start, scratch.size() - start);
        } else {
            const void* const found = i < n ? std::memchr(raw.data() + i, delimiter, n - i) : nullptr;
            const std::size_t end =
                found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - raw.data()) : n;
            fields.push_back(raw.substr(i, end - i));
            i = end;
        }
        if (i >= n) {
            break;
        }
        ++i; // the delimiter
    }
}

char DetectCsvDelimiter(std::string_view header) {
    std::size_t commas = 0;
    std::size_t tabs = 0;
    bool inQuotes = false;
    for (const char c : header) {
        if (c == '"') {
            inQuotes = !inQuotes;
        } else if (!inQuotes) {
            commas += c == ',' ? 1 : 0;
            tabs += c == '\t' ? 1 : 0;
        }
    }
    return tabs > commas ? '\t' : ',';
}

std::string_view NormalizeColumnName(std::string_view name) {
    name = TrimBlanks(name);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
        name = TrimBlanks(name.substr(1, name.size() - 2));
    }
    return name;
}

int FindColumn(const std::vector<std::string_view>& header, std::string_view name) {
    const std::string_view wanted = NormalizeColumnName(name);
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (EqualNoCase(NormalizeColumnName(header[i]), wanted)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string ListColumns(const std::vector<std::string_view>& header) {
    constexpr std::size_t MaxListed = 20;
    constexpr std::size_t MaxNameBytes = 40;
    std::string list;
    for (std::size_t i = 0; i < header.size() && i < MaxListed; ++i) {
        if (i > 0) {
            list += ", ";
        }
        std::string_view name = NormalizeColumnName(header[i]);
        const bool cut = name.size() > MaxNameBytes;
        name = cut ? LongTextStart(name.substr(0, MaxNameBytes)) : name;
        list += '"';
        list += name;
        list += cut ? "...\"" : "\"";
    }
    if (header.size() > MaxListed) {
        list += ", ... (" + std::to_string(header.size()) + " columns)";
    }
    return list;
}
