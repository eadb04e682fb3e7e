#include "cli/registers.h"

#include <algorithm>
#include <array>

namespace {

// One field of a record or map row: a number, a text, a flag, or nothing.
struct TCell {
    enum TType : std::uint8_t { ctNone, ctNumber, ctHex, ctText, ctBool } Type = ctNone;
    std::uint64_t Number = 0;
    double Real = 0.0;
    bool Flag = false;
    bool IsReal = false;
    std::string Text;
};

TCell None() { return TCell(); }
TCell Number(std::uint64_t value) {
    TCell c;
    c.Type = TCell::ctNumber;
    c.Number = value;
    return c;
}
// A number the table writes in hexadecimal (two digits), JSON and CSV in decimal.
TCell Hex(std::uint64_t value) {
    TCell c = Number(value);
    c.Type = TCell::ctHex;
    return c;
}
TCell Real(double value) {
    TCell c = Number(0);
    c.Real = value;
    c.IsReal = true;
    return c;
}
TCell Text(std::string text) {
    TCell c;
    c.Type = TCell::ctText;
    c.Text = std::move(text);
    return c;
}
TCell Bool(bool value) {
    TCell c;
    c.Type = TCell::ctBool;
    c.Flag = value;
    return c;
}

std::string NumberText(const TCell& c, bool hex, bool table) {
    char text[MaxNumberChars + 16];
    char* end = nullptr;
    if (c.IsReal) {
        // JSON and CSV: the shortest text that reads back as the same double; the table: the
        // records' rule for times.
        end = table ? WriteTableSeconds(text, c.Real) : WriteShortestDouble(text, c.Real);
    } else if (hex) {
        end = WriteHex(text, c.Number, 2);
    } else {
        end = WriteUnsigned(text, c.Number);
    }
    return std::string(text, end);
}

struct TColumn {
    std::string_view Title;
    std::size_t Width;
    bool Right;
};

// The text of one cell in `format`.
std::string CellText(const TCell& c, TOutputFormat format) {
    switch (c.Type) {
    case TCell::ctNone:
        return format == TOutputFormat::ofJsonl ? "null" : format == TOutputFormat::ofTable ? "-" : "";
    case TCell::ctNumber: return NumberText(c, false, format == TOutputFormat::ofTable);
    case TCell::ctHex:
        return NumberText(c, format == TOutputFormat::ofTable, format == TOutputFormat::ofTable);
    case TCell::ctBool:
        if (format == TOutputFormat::ofTable) {
            return c.Flag ? "yes" : "no";
        }
        return c.Flag ? "true" : "false";
    case TCell::ctText:
        switch (format) {
        case TOutputFormat::ofJsonl: return '"' + JsonEscaped(c.Text) + '"';
        case TOutputFormat::ofCsv: return CsvField(c.Text);
        case TOutputFormat::ofTable: return c.Text.empty() ? "-" : TableText(c.Text);
        }
    }
    return {};
}

std::size_t TextWidth(const std::string& text) { return TableTextWidth(text); }

// One row in `format`: a JSON object with the columns' titles as keys, a CSV row, or table
// cells padded to the columns' widths.
std::string Row(std::span<const TColumn> columns, std::span<const TCell> cells, TOutputFormat format) {
    std::string row;
    if (format == TOutputFormat::ofJsonl) {
        row += '{';
        for (std::size_t i = 0; i < columns.size(); ++i) {
            row += i == 0 ? "\"" : ",\"";
            row += columns[i].Title;
            row += "\":";
            row += CellText(cells[i], format);
        }
        row += "}\n";
        return row;
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const std::string text = CellText(cells[i], format);
        if (format == TOutputFormat::ofCsv) {
            row += text;
            row += i + 1 == columns.size() ? "\n" : ",";
            continue;
        }
        const bool last = i + 1 == columns.size();
        const std::size_t width = TextWidth(text);
        const std::size_t pad = columns[i].Width > width ? columns[i].Width - width : 0;
        if (columns[i].Right) {
            row.append(pad, ' ');
        }
        row += text;
        if (!columns[i].Right && !last) {
            row.append(pad, ' ');
        }
        row += last ? "\n" : "  ";
    }
    return row;
}

std::string HeaderRow(std::span<const TColumn> columns, TOutputFormat format) {
    if (format == TOutputFormat::ofJsonl) {
        return {};
    }
    std::vector<TCell> titles;
    for (const TColumn& column : columns) {
        titles.push_back(Text(std::string(column.Title)));
    }
    if (format == TOutputFormat::ofTable) {
        // Titles are plain words: written as they are, never as "-".
        std::string row;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const bool last = i + 1 == columns.size();
            const std::size_t pad = columns[i].Width > columns[i].Title.size()
                                        ? columns[i].Width - columns[i].Title.size()
                                        : 0;
            if (columns[i].Right) {
                row.append(pad, ' ');
            }
            row += columns[i].Title;
            if (!columns[i].Right && !last) {
                row.append(pad, ' ');
            }
            row += last ? "\n" : "  ";
        }
        return row;
    }
    return Row(columns, titles, format);
}

constexpr std::size_t AccessFieldCount = 14;

std::array<TColumn, AccessFieldCount> RecordColumns(std::size_t sourceWidth) {
    return {{{"source", sourceWidth, false},
             {"frame", 10, true},
             {"time", 14, true},
             {"kind", 7, false},
             {"slave", 5, true},
             {"address", 7, true},
             {"data", 4, true},
             {"crc_ok", 6, false},
             {"complete", 8, false},
             {"lag", 3, true},
             {"name", 15, false},
             {"crc_covers_cts", 14, false},
             {"slave_mask", 10, true},
             {"command", 7, true}}};
}

constexpr std::array<TColumn, 7> MapColumns = {{{"slave", 5, true},
                                                {"address", 7, true},
                                                {"name", 15, false},
                                                {"value", 5, true},
                                                {"reads", 6, true},
                                                {"writes", 6, true},
                                                {"crc_errors", 10, true}}};
constexpr std::array<TColumn, 3> SlaveColumns = {{{"slave", 5, true},
                                                  {"device_id", 12, false},
                                                  {"manufacturer_id", 15, false}}};
constexpr std::array<TColumn, 9> CsvMapColumns = {{{"slave", 0, false},
                                                   {"address", 0, false},
                                                   {"name", 0, false},
                                                   {"value", 0, false},
                                                   {"reads", 0, false},
                                                   {"writes", 0, false},
                                                   {"crc_errors", 0, false},
                                                   {"device_id", 0, false},
                                                   {"manufacturer_id", 0, false}}};

} // namespace

std::string_view AccessKindName(TAccessKind kind) {
    switch (kind) {
    case TAccessKind::akRead: return "read";
    case TAccessKind::akWrite: return "write";
    case TAccessKind::akCommand: return "command";
    case TAccessKind::akUnknown: break;
    }
    return "unknown";
}

TRegisterFormatter::TRegisterFormatter(TOutputFormat format) : FFormat(format) {}

void TRegisterFormatter::SetSourceName(std::uint32_t source, std::string_view name) {
    if (FSourceNames.size() <= source) {
        FSourceNames.resize(static_cast<std::size_t>(source) + 1);
    }
    FSourceNames[source].assign(name);
    FSourceWidth = std::max(FSourceWidth, TableTextWidth(name));
}

std::string TRegisterFormatter::SourceText(std::uint32_t source) const {
    if (source < FSourceNames.size() && !FSourceNames[source].empty()) {
        return FSourceNames[source];
    }
    char text[MaxNumberChars];
    return std::string(text, WriteUnsigned(text, source));
}

std::string TRegisterFormatter::Header() const {
    return HeaderRow(RecordColumns(FSourceWidth), FFormat);
}

void TRegisterFormatter::AppendRecord(TOutBuffer& out, const TRegisterAccess& a) const {
    const bool command = a.Kind == TAccessKind::akCommand;
    const bool unknown = a.Kind == TAccessKind::akUnknown;
    TCell coverage = None();
    if (a.CtsCoverage != TCtsCoverage::ccUnknown) {
        coverage = Bool(a.CtsCoverage == TCtsCoverage::ccCovered);
    }
    const std::array<TCell, AccessFieldCount> cells = {
        Text(SourceText(a.Source)),
        Number(a.Frame),
        Real(a.Time),
        Text(std::string(AccessKindName(a.Kind))),
        command ? None() : Number(a.Slave),
        command || unknown ? None() : Hex(a.Address),
        a.HasData ? Hex(a.Data) : None(),
        Bool(a.CrcOk),
        Bool(a.Complete),
        a.Lag >= 0 ? Number(static_cast<std::uint64_t>(a.Lag)) : None(),
        Text(command || unknown ? std::string() : std::string(StandardRegisterName(a.Address))),
        coverage,
        command ? Hex(a.SlaveMask) : None(),
        command ? Number(a.Command) : None()};
    out.Append(Row(RecordColumns(FSourceWidth), cells, FFormat));
}

std::string FormatRegisterMap(const TRegisterMap& map, TOutputFormat format) {
    std::string text;
    const bool csv = format == TOutputFormat::ofCsv;
    if (csv) {
        text += HeaderRow(CsvMapColumns, format);
    } else {
        text += HeaderRow(MapColumns, format);
    }
    for (int slave = 0; slave < TRegisterMap::Slaves; ++slave) {
        for (int address = 0; address < TRegisterMap::Addresses; ++address) {
            const TRegisterEntry& e = map.Entry(slave, address);
            if (!e.Seen) {
                continue;
            }
            std::vector<TCell> cells = {Number(static_cast<std::uint64_t>(slave)),
                                        Hex(static_cast<std::uint64_t>(address)),
                                        Text(StandardRegisterName(static_cast<std::uint8_t>(address))),
                                        e.HasValue ? Hex(e.Value) : None(),
                                        Number(e.Reads),
                                        Number(e.Writes),
                                        Number(e.CrcErrors)};
            if (csv) {
                cells.push_back(None());
                cells.push_back(None());
                text += Row(CsvMapColumns, cells, format);
            } else {
                text += Row(MapColumns, cells, format);
            }
        }
    }
    if (format == TOutputFormat::ofTable) {
        text += '\n';
        text += HeaderRow(SlaveColumns, format);
    }
    for (int slave = 0; slave < TRegisterMap::Slaves; ++slave) {
        if (!map.SlaveSeen(slave)) {
            continue;
        }
        const std::optional<std::string> device = map.DeviceId(slave);
        const std::optional<std::string> maker = map.ManufacturerId(slave);
        const TCell deviceCell = device ? Text(*device) : None();
        const TCell makerCell = maker ? Text(*maker) : None();
        if (csv) {
            const std::vector<TCell> cells = {Number(static_cast<std::uint64_t>(slave)),
                                              None(), None(), None(), None(), None(), None(),
                                              deviceCell, makerCell};
            text += Row(CsvMapColumns, cells, format);
        } else {
            const std::vector<TCell> cells = {Number(static_cast<std::uint64_t>(slave)), deviceCell,
                                              makerCell};
            text += Row(SlaveColumns, cells, format);
        }
    }
    return text;
}

int RegisterExitStatus(std::span<const TRegisterAccess> accesses) {
    return std::all_of(accesses.begin(), accesses.end(), AccessIsGood) ? 0 : 1;
}
