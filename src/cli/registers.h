// Register traffic as corvane-decode --registers writes it: one record per register access
// (one per address of a sequential access) or command, as a CSV row, a JSON line or an aligned
// table row; and with --summary the register map. Free of the pipeline: records and maps come
// from the control decoder and TRegisterMap, text goes to a TOutBuffer or a string.
//
// Record fields, in this order: source, frame, time, kind, slave, address, data, crc_ok,
// complete, lag, name, crc_covers_cts, slave_mask, command. A field without a value (the data
// of an unanswered read, the slave of a command, the lag of a write) is empty in CSV, null in
// JSON and "-" in the table. JSON and CSV write numbers in decimal; the table writes address,
// data and slave mask in hexadecimal.
#pragma once

#include "capture/control/controldecoder.h"
#include "cli/records.h"
#include "capture/control/registermap.h"
#include "cli/textout.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

std::string_view AccessKindName(TAccessKind kind);

class TRegisterFormatter {
public:
    explicit TRegisterFormatter(TOutputFormat format);

    // The name written as the source of records of source number `source` (a file name, "-"
    // for standard input); sources without a name are written as their number.
    void SetSourceName(std::uint32_t source, std::string_view name);
    // Written once before the records: the CSV header row or the table's column titles;
    // nothing for JSON lines.
    std::string Header() const;
    void AppendRecord(TOutBuffer& out, const TRegisterAccess& access) const;

private:
    std::string SourceText(std::uint32_t source) const;

    TOutputFormat FFormat;
    std::vector<std::string> FSourceNames; // as given, by source number
    std::size_t FSourceWidth = 6;          // table: the source column
};

// The register map as --registers --summary writes it.
//   table: slave, address, name, value, reads, writes, crc_errors for every slave and address
//          seen, then slave, device_id, manufacturer_id for every slave seen;
//   JSON lines: one object per slave and address (slave, address, name, value, reads, writes,
//          crc_errors), then one per slave (slave, device_id, manufacturer_id: text or null);
//   CSV: the header slave,address,name,value,reads,writes,crc_errors,device_id,manufacturer_id;
//          rows of registers leave the last two fields empty, rows of slaves the middle five.
// `value` is the last value read or written with good CRCs (none: empty, null or "-").
std::string FormatRegisterMap(const TRegisterMap& map, TOutputFormat format);

// The exit status of a --registers run: 0 when every access is complete with good CRCs (also
// when there was none), 1 otherwise.
int RegisterExitStatus(std::span<const TRegisterAccess> accesses);
inline bool AccessIsGood(const TRegisterAccess& access) { return access.Complete && access.CrcOk; }
