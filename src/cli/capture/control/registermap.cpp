#include "capture/control/registermap.h"

void TRegisterMap::Add(const TRegisterAccess& access) {
    const bool read = access.Kind == TAccessKind::akRead;
    if (!read && access.Kind != TAccessKind::akWrite) {
        return;
    }
    const int slave = access.Slave & 7;
    TRegisterEntry& entry = FEntries[static_cast<std::size_t>(slave * Addresses + (access.Address & 0x7F))];
    FSlaveSeen[static_cast<std::size_t>(slave)] = true;
    entry.Seen = true;
    ++(read ? entry.Reads : entry.Writes);
    if (access.Complete && !access.CrcOk) {
        ++entry.CrcErrors;
    }
    if (access.CrcOk && access.HasData) {
        entry.HasValue = true;
        entry.Value = access.Data;
        if (read) {
            entry.HasReadValue = true;
            entry.ReadValue = access.Data;
        }
    }
}

void TRegisterMap::Merge(const TRegisterMap& later) {
    for (std::size_t i = 0; i < FEntries.size(); ++i) {
        TRegisterEntry& entry = FEntries[i];
        const TRegisterEntry& other = later.FEntries[i];
        if (!other.Seen) {
            continue;
        }
        entry.Seen = true;
        entry.Reads += other.Reads;
        entry.Writes += other.Writes;
        entry.CrcErrors += other.CrcErrors;
        if (other.HasValue) {
            entry.HasValue = true;
            entry.Value = other.Value;
        }
        if (other.HasReadValue) {
            entry.HasReadValue = true;
            entry.ReadValue = other.ReadValue;
        }
    }
    for (std::size_t s = 0; s < FSlaveSeen.size(); ++s) {
        FSlaveSeen[s] = FSlaveSeen[s] || later.FSlaveSeen[s];
    }
}

std::optional<std::string> TRegisterMap::IdText(int slave, int first, int count) const {
    std::string text;
    for (int i = 0; i < count; ++i) {
        const TRegisterEntry& entry = Entry(slave, first + i);
        if (!entry.HasReadValue) {
            return std::nullopt;
        }
        text += static_cast<char>(entry.ReadValue);
    }
    while (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    if (text.empty()) {
        return std::nullopt;
    }
    for (const char c : text) {
        if (c < 0x20 || c > 0x7E) {
            return std::nullopt;
        }
    }
    return text;
}
