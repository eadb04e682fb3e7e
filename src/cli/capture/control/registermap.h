// The registers seen in a capture's control traffic: per slave ID and address, the last value
// read or written with good CRCs, how many reads and writes, how many failed their CRC; and per
// slave the device ID and manufacturer ID as text where all their bytes were read.
#pragma once

#include "capture/control/controldecoder.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

struct TRegisterEntry {
    bool Seen = false;     // a read or write reached this address
    bool HasValue = false; // Value holds the last value read or written with good CRCs
    std::uint8_t Value = 0;
    bool HasReadValue = false; // ReadValue holds the last value read with good CRCs
    std::uint8_t ReadValue = 0;
    std::uint32_t Reads = 0;
    std::uint32_t Writes = 0;
    std::uint32_t CrcErrors = 0; // complete accesses whose CRC failed
};

class TRegisterMap {
public:
    static constexpr int Slaves = 8;
    static constexpr int Addresses = 128;

    // Counts a read or write; commands and accesses cut before R W carry no address and are
    // left out.
    void Add(const TRegisterAccess& access);
    // Adds the map of traffic that came after this map's: its values replace these.
    void Merge(const TRegisterMap& later);

    const TRegisterEntry& Entry(int slave, int address) const {
        return FEntries[static_cast<std::size_t>(slave * Addresses + address)];
    }
    bool SlaveSeen(int slave) const { return FSlaveSeen[static_cast<std::size_t>(slave)]; }
    // Device ID (0x78 to 0x7D) and manufacturer ID (0x7E, 0x7F) as text, bytes in address
    // order, when every byte was read with good CRCs and, trailing zero bytes (padding) left
    // out, they are printable ASCII and not empty; nullopt otherwise.
    std::optional<std::string> DeviceId(int slave) const { return IdText(slave, 0x78, 6); }
    std::optional<std::string> ManufacturerId(int slave) const { return IdText(slave, 0x7E, 2); }

private:
    std::optional<std::string> IdText(int slave, int first, int count) const;

    std::array<TRegisterEntry, Slaves * Addresses> FEntries{};
    std::array<bool, Slaves> FSlaveSeen{};
};
