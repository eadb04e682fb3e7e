#include "capture/control/controldecoder.h"

#include <algorithm>

namespace {

// Zeros on CDM that start a control frame, and abort one under way.
constexpr std::uint32_t StartZeros = 14;
// Bits after the control frame's S: CTS, ID2..0, A6..0, CRC3..0, R, W.
constexpr int RegisterHeaderBits = 17;
// Bits after the control frame's S: CTS, IDS7..0, CMD1..0, CRC3..0.
constexpr int CommandHeaderBits = 15;
// Bits after a data phase's S: 12 (data and CRC, or zeros) and P.
constexpr int DataPhaseBits = 13;
// The latest lag tried, and with it the frames after a data phase's S that a read waits for.
constexpr int MaxLag = 3;
constexpr std::uint64_t ReadSpan = 12 + MaxLag;

// x^4 + x + 1, start value 0, one bit at a time, inverted: headers are checked once per
// control frame, data bytes through the table below.
constexpr std::uint8_t SentCrc4(std::uint32_t bits, int count) {
    std::uint32_t crc = 0;
    for (int i = count - 1; i >= 0; --i) {
        const std::uint32_t feedback = ((crc >> 3) ^ (bits >> i)) & 1U;
        crc = (crc << 1) & 0xFU;
        if (feedback != 0) {
            crc ^= 0x3U;
        }
    }
    return static_cast<std::uint8_t>(~crc & 0xFU);
}

// The CRC as sent of every data byte, so that checking a reply costs one look-up.
constexpr std::array<std::uint8_t, 256> ByteCrcs = [] {
    std::array<std::uint8_t, 256> crcs{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        crcs[b] = SentCrc4(b, 8);
    }
    return crcs;
}();

// Whether the 12 bits D7..D0 CRC3..CRC0 of a data phase hold.
constexpr bool DataCrcHolds(std::uint32_t bits) { return ByteCrcs[(bits >> 4) & 0xFFU] == (bits & 0xFU); }

} // namespace

std::uint8_t ControlCrc(std::uint32_t bits, int count) { return SentCrc4(bits, count); }

const char* StandardRegisterName(std::uint8_t address) {
    if (address == 0x40) {
        return "bank_select";
    }
    if (address == 0x41) {
        return "eds_bank";
    }
    if (address == 0x42 || address == 0x43) {
        return "profile_id";
    }
    if (address >= 0x44 && address <= 0x47) {
        return "serial_number";
    }
    if (address >= 0x78 && address <= 0x7D) {
        return "device_id";
    }
    if (address == 0x7E || address == 0x7F) {
        return "manufacturer_id";
    }
    return "";
}

void TControlDecoder::Feed(std::span<const TControlBits> frames, std::vector<TRegisterAccess>& out) {
    const std::size_t n = frames.size();
    std::size_t i = 0;
    while (i < n) {
        if (FPhase == TPhase::phHunt && !FPending.Active) {
            // No control frame under way and no read waiting: most frames of most captures.
            // The state stays in locals (Step's writes to `out` would make the compiler reload
            // it) until a frame that may start a control frame, or one without CDM.
            std::uint64_t cds = FCdsBits;
            std::uint64_t known = FCdsKnown;
            std::uint32_t zeros = FZeros;
            const std::size_t first = i;
            for (; i < n; ++i) {
                const TControlBits& f = frames[i];
                if (f.Cdm < 0 || (f.Cdm != 0 && zeros >= StartZeros)) {
                    break;
                }
                cds = (cds << 1) | (f.Cds == 1 ? 1U : 0U);
                known = (known << 1) | (f.Cds >= 0 ? 1U : 0U);
                zeros = f.Cdm == 0 ? std::min<std::uint32_t>(zeros + 1, 1U << 30) : 0;
            }
            FCdsBits = cds;
            FCdsKnown = known;
            FZeros = zeros;
            FIndex += i - first;
            if (i == n) {
                return;
            }
        }
        Step(frames[i++], out);
    }
}

void TControlDecoder::Finish(std::vector<TRegisterAccess>& out) {
    if (FPending.Active) {
        DecideRead(FPending, out);
    }
    CutControlFrame(out);
    Reset(); // the next stream may come from another master and slaves
}

void TControlDecoder::Reset() { *this = TControlDecoder(); }

void TControlDecoder::Step(const TControlBits& bits, std::vector<TRegisterAccess>& out) {
    const std::uint64_t index = FIndex++;
    FCdsBits = (FCdsBits << 1) | (bits.Cds == 1 ? 1U : 0U);
    FCdsKnown = (FCdsKnown << 1) | (bits.Cds >= 0 ? 1U : 0U);
    if (FPending.Active && index >= FPending.StartIndex + ReadSpan) {
        DecideRead(FPending, out);
    }

    if (bits.Cdm < 0) {
        // The master's bit is lost: nothing after it can be placed in the control frame.
        CutControlFrame(out);
        FZeros = 0;
        return;
    }
    const std::uint32_t zerosBefore = FZeros;
    const bool one = bits.Cdm != 0;
    FZeros = one ? 0 : std::min<std::uint32_t>(FZeros + 1, 1U << 30);

    switch (FPhase) {
    case TPhase::phHunt:
        if (one && zerosBefore >= StartZeros) {
            StartControlFrame(bits);
        }
        return;
    case TPhase::phHeader:
        if (FZeros >= StartZeros) {
            CutControlFrame(out);
            return;
        }
        FBits = (FBits << 1) | (one ? 1U : 0U);
        ++FCount;
        if (FCount == 1) {
            FAccess = TRegisterAccess();
            FAccess.Frame = FControlStart.Frame;
            FAccess.Time = FControlStart.Time;
            FAccess.Source = FControlStart.Source;
            FAccess.Kind = one ? TAccessKind::akUnknown : TAccessKind::akCommand;
            FAccessOpen = true;
        } else if (FCount == ((FBits >> (FCount - 1)) != 0 ? RegisterHeaderBits : CommandHeaderBits)) {
            EndHeader(out);
        }
        return;
    case TPhase::phDataStart:
        if (one) {
            StartDataPhase(bits, index);
        } else {
            CutControlFrame(out); // R W without the S of the data phase
        }
        return;
    case TPhase::phData:
        FBits = (FBits << 1) | (one ? 1U : 0U);
        if (++FCount == DataPhaseBits) {
            EndDataPhase(out);
        }
        return;
    case TPhase::phAfterStop:
        if (one) {
            // Sequential access: the next address, same direction.
            FAccess.Address = static_cast<std::uint8_t>((FAccess.Address + 1) & 0x7F);
            FAccess.Sequential = true;
            StartDataPhase(bits, index);
        } else {
            FPhase = TPhase::phHunt;
        }
        return;
    }
}

void TControlDecoder::StartControlFrame(const TControlBits& bits) {
    FControlStart = bits;
    FBits = 0;
    FCount = 0;
    FAccessOpen = false;
    FPhase = TPhase::phHeader;
}

void TControlDecoder::FillHeaderFields() {
    // Fields of the header bits seen so far (all of them at its end); position 0 is CTS.
    auto field = [this](int first, int width, std::uint32_t& value) {
        if (FCount < first + width) {
            return false;
        }
        value = (FBits >> (FCount - first - width)) & ((1U << width) - 1U);
        return true;
    };
    std::uint32_t value = 0;
    if (FAccess.Kind == TAccessKind::akCommand) {
        if (field(1, 8, value)) {
            FAccess.SlaveMask = static_cast<std::uint8_t>(value);
        }
        if (field(9, 2, value)) {
            FAccess.Command = static_cast<std::uint8_t>(value);
        }
        return;
    }
    if (field(1, 3, value)) {
        FAccess.Slave = static_cast<std::uint8_t>(value);
    }
    if (field(4, 7, value)) {
        FAccess.Address = static_cast<std::uint8_t>(value);
    }
}

void TControlDecoder::EndHeader(std::vector<TRegisterAccess>& out) {
    FillHeaderFields();
    const std::uint32_t crc = (FBits >> (FCount - 15)) & 0xFU; // the CRC ends at position 15
    if (FAccess.Kind == TAccessKind::akCommand) {
        // CTS = 0 leaves a CRC of start value 0 unchanged: both readings give the same CRC.
        FAccess.CrcOk = ControlCrc((FBits >> 4) & 0x3FFU, 10) == crc;
        FAccess.Complete = true;
        out.push_back(FAccess);
        FAccessOpen = false;
        FPhase = TPhase::phHunt;
        return;
    }
    const std::uint32_t addressing = (FBits >> 6) & 0x3FFU; // ID2..0 and A6..0
    if (ControlCrc(addressing, 10) == crc) {
        FAccess.CtsCoverage = TCtsCoverage::ccNotCovered;
    } else if (ControlCrc((1U << 10) | addressing, 11) == crc) {
        FAccess.CtsCoverage = TCtsCoverage::ccCovered;
    }
    FHeaderOk = FAccess.CtsCoverage != TCtsCoverage::ccUnknown;
    const std::uint32_t rw = FBits & 3U;
    if (rw != 2U && rw != 1U) {
        // R W = 0 0 or 1 1: neither a read nor a write; no data phase can be decoded.
        FAccess.CrcOk = false;
        FAccess.Complete = false;
        out.push_back(FAccess);
        FAccessOpen = false;
        FPhase = TPhase::phHunt;
        return;
    }
    FRead = rw == 2U;
    FAccess.Kind = FRead ? TAccessKind::akRead : TAccessKind::akWrite;
    FPhase = TPhase::phDataStart;
}

void TControlDecoder::StartDataPhase(const TControlBits& bits, std::uint64_t index) {
    FAccess.Frame = bits.Frame;
    FAccess.Time = bits.Time;
    FAccess.Source = bits.Source;
    FAccess.HasData = false;
    FAccess.Data = 0;
    FAccess.Lag = -1;
    FAccessOpen = true;
    FDataStartIndex = index;
    FBits = 0;
    FCount = 0;
    FPhase = TPhase::phData;
}

void TControlDecoder::EndDataPhase(std::vector<TRegisterAccess>& out) {
    const bool stopOk = (FBits & 1U) == 0;
    FAccessOpen = false;
    FPhase = stopOk ? TPhase::phAfterStop : TPhase::phHunt;
    if (!FRead) {
        const std::uint32_t data = (FBits >> 5) & 0xFFU;
        const std::uint32_t crc = (FBits >> 1) & 0xFU;
        TRegisterAccess access = FAccess;
        access.Data = static_cast<std::uint8_t>(data);
        access.HasData = true;
        access.CrcOk = FHeaderOk && ByteCrcs[data] == crc;
        access.Complete = stopOk;
        out.push_back(access);
        return;
    }
    if (FPending.Active) {
        DecideRead(FPending, out);
    }
    FPending.Active = true;
    FPending.StartIndex = FDataStartIndex;
    FPending.Access = FAccess;
    FPending.Access.Complete = stopOk;     // DecideRead clears it when the slave is silent
    FPending.Access.CrcOk = FHeaderOk;     // DecideRead adds the reply's CRC
}

void TControlDecoder::CutControlFrame(std::vector<TRegisterAccess>& out) {
    if (FAccessOpen) {
        if (FPhase == TPhase::phHeader) {
            FillHeaderFields();
        }
        TRegisterAccess access = FAccess;
        access.CrcOk = false;
        access.Complete = false;
        out.push_back(access);
        FAccessOpen = false;
    }
    FPhase = TPhase::phHunt;
}

bool TControlDecoder::ReplyBits(std::uint64_t first, std::uint32_t& bits) const {
    const std::uint64_t last = first + 11;
    if (last >= FIndex) {
        return false;
    }
    const std::uint64_t shift = FIndex - 1 - last; // history position of the last bit
    if (shift + 11 >= 64) {
        return false;
    }
    if (((FCdsKnown >> shift) & 0xFFFU) != 0xFFFU) {
        return false;
    }
    bits = static_cast<std::uint32_t>((FCdsBits >> shift) & 0xFFFU);
    return true;
}

void TControlDecoder::DecideRead(TPendingRead& read, std::vector<TRegisterAccess>& out) {
    read.Active = false;
    TRegisterAccess& access = read.Access;
    TLagState& lags = FLags[access.Slave & 7U];

    std::array<bool, MaxLag + 1> seen{};   // the reply window at that lag could be read
    std::array<bool, MaxLag + 1> held{};   // ... and its CRC holds
    std::array<std::uint32_t, MaxLag + 1> words{};
    const auto look = [&](int lag) {
        const std::size_t i = static_cast<std::size_t>(lag);
        std::uint32_t bits = 0;
        if (ReplyBits(read.StartIndex + 1 + static_cast<std::uint64_t>(lag), bits)) {
            seen[i] = true;
            words[i] = bits;
            held[i] = DataCrcHolds(bits);
        }
        return held[i];
    };
    int lag = -1;
    if (lags.Learned >= 0 && look(lags.Learned)) {
        // The usual case: the lag learned before holds again; the others are not looked at.
        lag = lags.Learned;
        lags.Candidate = -1;
    } else {
        // The lag that held, preferring 1 (a slave answers the previous frame's CDM), then 0,
        // 2, 3.
        static constexpr int Order[] = {1, 0, 2, 3};
        int firstHeld = -1;
        for (const int candidate : Order) {
            if (candidate != lags.Learned && look(candidate)) {
                firstHeld = candidate;
                break;
            }
        }
        if (lags.Learned < 0) {
            lag = firstHeld >= 0 ? firstHeld : 1;
            lags.Learned = static_cast<std::int8_t>(firstHeld);
            if (firstHeld < 0) {
                look(lag);
            }
        } else if (firstHeld >= 0 && lags.Candidate == firstHeld) {
            lag = firstHeld;
            lags.Learned = static_cast<std::int8_t>(firstHeld);
            lags.Candidate = -1;
        } else {
            lag = lags.Learned;
            lags.Candidate = static_cast<std::int8_t>(firstHeld);
        }
    }

    // A slave that never answers leaves CDS the same over the whole reply span.
    bool silent = true;
    {
        const std::uint64_t first = read.StartIndex + 1;
        const std::uint64_t last = std::min<std::uint64_t>(read.StartIndex + ReadSpan, FIndex - 1);
        if (last >= first && FIndex - 1 - first < 64) {
            const std::uint64_t shift = FIndex - 1 - last;
            const std::uint64_t mask = (std::uint64_t{1} << (last - first + 1)) - 1;
            const std::uint64_t known = (FCdsKnown >> shift) & mask;
            const std::uint64_t value = (FCdsBits >> shift) & mask;
            silent = known == mask && (value == 0 || value == mask);
        }
    }
    const std::size_t chosen = static_cast<std::size_t>(lag);
    if (!seen[chosen] || (silent && !held[chosen])) {
        access.Complete = false;
        access.CrcOk = false;
        access.HasData = false;
        access.Lag = -1;
    } else {
        access.Lag = static_cast<std::int8_t>(lag);
        access.Data = static_cast<std::uint8_t>(words[chosen] >> 4);
        access.HasData = true;
        access.CrcOk = access.CrcOk && held[chosen];
    }
    out.push_back(access);
}
