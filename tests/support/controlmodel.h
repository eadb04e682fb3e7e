// A model of BiSS-C control communication for tests: a master that runs a script of register
// reads, writes, sequential accesses and commands, and slaves that hold a register map each,
// take writes and answer reads, exchanging one CDM and one CDS bit per position frame.
//
// Written from the public descriptions of the control frame, independently of the decoder:
// the CRC here is a polynomial long division over a list of bits, and the slaves follow the
// master's bits with their own state machine.
//   >= 14 frames CDM = 0, S = 1, CTS, then
//   CTS = 1: ID2..0, A6..0, CRC3..0, R W (1 0 read, 0 1 write), then per address S and
//            write: D7..D0 CRC3..0 P = 0 on CDM;  read: 12 zeros P = 0 on CDM, the slave's
//            D7..D0 CRC3..0 on CDS `lag` frames after the zeros; S again for the next address
//   CTS = 0: IDS7..0 (0: every slave), CMD1..0, CRC3..0
// Every CRC is x^4 + x + 1, start value 0, sent inverted.
#pragma once

#include "capture/control/controldecoder.h"

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

namespace controlmodel {

// MSB-first bits of the low `count` bits of `value`.
inline std::vector<int> Bits(std::uint32_t value, int count) {
    std::vector<int> bits;
    for (int i = count - 1; i >= 0; --i) {
        bits.push_back(static_cast<int>((value >> i) & 1U));
    }
    return bits;
}

// The 4-bit CRC of `message` as sent: remainder of message * x^4 divided by x^4 + x + 1,
// inverted.
inline std::uint8_t SentCrc(const std::vector<int>& message) {
    std::vector<int> work = message;
    work.insert(work.end(), 4, 0);
    static constexpr int Divisor[5] = {1, 0, 0, 1, 1};
    for (std::size_t i = 0; i + 4 < work.size(); ++i) {
        if (work[i] != 0) {
            for (std::size_t j = 0; j < 5; ++j) {
                work[i + j] ^= Divisor[j];
            }
        }
    }
    std::uint8_t remainder = 0;
    for (std::size_t i = work.size() - 4; i < work.size(); ++i) {
        remainder = static_cast<std::uint8_t>((remainder << 1) | work[i]);
    }
    return static_cast<std::uint8_t>(~remainder & 0xFU);
}

// One step of a master's script.
struct TStep {
    enum TType { stRead, stWrite, stCommand, stAbort } Type = stRead;
    int Slave = 0;
    int Address = 0;
    int Count = 1;                  // reads: addresses read in one control frame
    std::vector<std::uint8_t> Data; // writes: one value per address
    std::uint8_t Mask = 0;          // commands: IDS7..0
    std::uint8_t Command = 0;       // commands: CMD1..0
    int AbortAfter = 0;             // aborts: header bits of a read sent before giving up
    int IdleBefore = 0;             // zero frames before this control frame beyond the 14
};

inline TStep Read(int slave, int address, int count = 1) {
    TStep s;
    s.Type = TStep::stRead;
    s.Slave = slave;
    s.Address = address;
    s.Count = count;
    return s;
}
inline TStep Write(int slave, int address, std::vector<std::uint8_t> data) {
    TStep s;
    s.Type = TStep::stWrite;
    s.Slave = slave;
    s.Address = address;
    s.Data = std::move(data);
    return s;
}
inline TStep Command(std::uint8_t mask, std::uint8_t command) {
    TStep s;
    s.Type = TStep::stCommand;
    s.Mask = mask;
    s.Command = command;
    return s;
}
inline TStep Abort(int slave, int address, int bitsSent) {
    TStep s = Read(slave, address);
    s.Type = TStep::stAbort;
    s.AbortAfter = bitsSent;
    return s;
}

// A slave: its ID, registers, reply lag and reading of the header CRC.
class TSlave {
public:
    int Id = 0;
    int Lag = 1;
    bool CrcCoversCts = false;
    std::array<std::uint8_t, 128> Registers{};
    std::vector<std::uint8_t> CommandsTaken; // CMD of each command addressed to this slave

    // The master's bit of frame `frame`; replies go into `cds` (frame -> bit).
    void OnCdm(int bit, std::size_t frame, std::map<std::size_t, int>& cds) {
        const int zerosBefore = FZeros;
        FZeros = bit == 0 ? FZeros + 1 : 0;
        if (FZeros >= 14 && FState != stWait) {
            FState = stWait; // a started control frame is abandoned
        }
        switch (FState) {
        case stWait:
            if (bit == 1 && zerosBefore >= 14) {
                FState = stHeader;
                FHeader.clear();
            }
            break;
        case stHeader:
            FHeader.push_back(bit);
            if (FHeader[0] == 0 && FHeader.size() == 15) {
                TakeCommand();
                FState = stWait;
            } else if (FHeader[0] == 1 && FHeader.size() == 17) {
                TakeHeader();
            }
            break;
        case stDataStart:
        case stAfterStop:
            if (bit == 1) {
                if (FState == stAfterStop) {
                    FAddress = (FAddress + 1) % 128;
                }
                FData.clear();
                FState = stData;
                if (FSelected && FRead) {
                    std::vector<int> reply = Bits(Registers[static_cast<std::size_t>(FAddress)], 8);
                    const std::vector<int> crc = Bits(SentCrc(reply), 4);
                    reply.insert(reply.end(), crc.begin(), crc.end());
                    for (std::size_t i = 0; i < reply.size(); ++i) {
                        cds[frame + 1 + static_cast<std::size_t>(Lag) + i] = reply[i];
                    }
                }
            } else {
                FState = stWait;
            }
            break;
        case stData:
            FData.push_back(bit);
            if (FData.size() == 13) {
                FState = FData[12] == 0 ? stAfterStop : stWait;
                if (FSelected && !FRead && FData[12] == 0) {
                    const std::vector<int> value(FData.begin(), FData.begin() + 8);
                    std::uint8_t crc = 0;
                    std::uint8_t data = 0;
                    for (int i = 0; i < 8; ++i) {
                        data = static_cast<std::uint8_t>((data << 1) | FData[static_cast<std::size_t>(i)]);
                    }
                    for (int i = 8; i < 12; ++i) {
                        crc = static_cast<std::uint8_t>((crc << 1) | FData[static_cast<std::size_t>(i)]);
                    }
                    if (SentCrc(value) == crc) {
                        Registers[static_cast<std::size_t>(FAddress)] = data;
                    }
                }
            }
            break;
        }
    }

private:
    enum TState { stWait, stHeader, stDataStart, stData, stAfterStop };

    int Field(std::size_t first, std::size_t count) const {
        int value = 0;
        for (std::size_t i = first; i < first + count; ++i) {
            value = (value << 1) | FHeader[i];
        }
        return value;
    }
    void TakeHeader() {
        const std::vector<int> covered(FHeader.begin() + (CrcCoversCts ? 0 : 1), FHeader.begin() + 11);
        const bool crcOk = SentCrc(covered) == Field(11, 4);
        const int rw = Field(15, 2);
        FAddress = Field(4, 7);
        FRead = rw == 2;
        FSelected = crcOk && Field(1, 3) == Id && (rw == 1 || rw == 2);
        FState = stDataStart;
    }
    void TakeCommand() {
        const std::vector<int> covered(FHeader.begin() + (CrcCoversCts ? 0 : 1), FHeader.begin() + 11);
        const int mask = Field(1, 8);
        if (SentCrc(covered) == Field(11, 4) && (mask == 0 || ((mask >> Id) & 1) != 0)) {
            CommandsTaken.push_back(static_cast<std::uint8_t>(Field(9, 2)));
        }
    }

    TState FState = stWait;
    int FZeros = 0;
    std::vector<int> FHeader;
    std::vector<int> FData;
    int FAddress = 0;
    bool FRead = false;
    bool FSelected = false;
};

// What the master did, as the decoder should report it: reads carry the value the addressed
// slave held.
struct TExpected {
    TAccessKind Kind = TAccessKind::akRead;
    int Slave = 0;
    int Address = 0;
    std::uint8_t Data = 0;
    std::size_t Frame = 0; // index of the frame holding the data phase's S (or control S)
    bool Sequential = false;
    std::uint8_t Mask = 0;
    std::uint8_t Command = 0;
};

struct TRun {
    std::vector<TControlBits> Frames;
    std::vector<TExpected> Expected;
};

// A master and the slaves on its line. The slaves' CDS bits are ORed (only the addressed
// slave answers; idle slaves send 0).
class TBus {
public:
    std::deque<TSlave> Slaves; // a deque: AddSlave's references stay valid
    bool MasterCrcCoversCts = false;
    double Period = 1e-4;         // seconds between frames
    std::uint32_t Source = 0;
    std::uint64_t FirstFrame = 0; // number of the first frame
    int TrailingZeros = 16;       // zero frames after the script

    TSlave& AddSlave(int id, int lag = 1) {
        TSlave slave;
        slave.Id = id;
        slave.Lag = lag;
        slave.CrcCoversCts = MasterCrcCoversCts;
        Slaves.push_back(slave);
        return Slaves.back();
    }

    TRun Run(const std::vector<TStep>& script) {
        TRun run;
        std::vector<int> cdm;
        for (const TStep& step : script) {
            cdm.insert(cdm.end(), static_cast<std::size_t>(14 + step.IdleBefore), 0);
            AppendStep(step, cdm, run.Expected);
        }
        cdm.insert(cdm.end(), static_cast<std::size_t>(TrailingZeros), 0);

        std::map<std::size_t, int> cds;
        for (std::size_t f = 0; f < cdm.size(); ++f) {
            // Reads are answered from the registers as they are when the read happens.
            for (TExpected& e : run.Expected) {
                if (e.Kind == TAccessKind::akRead && e.Frame == f) {
                    e.Data = SlaveById(e.Slave).Registers[static_cast<std::size_t>(e.Address)];
                }
            }
            for (TSlave& slave : Slaves) {
                slave.OnCdm(cdm[f], f, cds);
            }
        }
        for (std::size_t f = 0; f < cdm.size(); ++f) {
            TControlBits bits;
            bits.Frame = FirstFrame + f;
            bits.Time = static_cast<double>(FirstFrame + f) * Period;
            bits.Cdm = static_cast<std::int8_t>(cdm[f]);
            const auto it = cds.find(f);
            bits.Cds = static_cast<std::int8_t>(it == cds.end() ? 0 : it->second);
            bits.Source = Source;
            run.Frames.push_back(bits);
        }
        return run;
    }

private:
    TSlave& SlaveById(int id) {
        for (TSlave& slave : Slaves) {
            if (slave.Id == id) {
                return slave;
            }
        }
        static TSlave none;
        none = TSlave();
        return none;
    }

    void AppendStep(const TStep& step, std::vector<int>& cdm, std::vector<TExpected>& expected) {
        const auto append = [&cdm](const std::vector<int>& bits) {
            cdm.insert(cdm.end(), bits.begin(), bits.end());
        };
        cdm.push_back(1); // S
        const std::size_t controlStart = cdm.size() - 1;
        if (step.Type == TStep::stCommand) {
            std::vector<int> fields = Bits(step.Mask, 8);
            const std::vector<int> cmd = Bits(step.Command, 2);
            fields.insert(fields.end(), cmd.begin(), cmd.end());
            cdm.push_back(0); // CTS
            append(fields);
            std::vector<int> covered = fields;
            if (MasterCrcCoversCts) {
                covered.insert(covered.begin(), 0);
            }
            append(Bits(SentCrc(covered), 4));
            TExpected e;
            e.Kind = TAccessKind::akCommand;
            e.Frame = controlStart;
            e.Mask = step.Mask;
            e.Command = step.Command;
            expected.push_back(e);
            return;
        }
        std::vector<int> header = {1};
        const std::vector<int> id = Bits(static_cast<std::uint32_t>(step.Slave), 3);
        const std::vector<int> address = Bits(static_cast<std::uint32_t>(step.Address), 7);
        header.insert(header.end(), id.begin(), id.end());
        header.insert(header.end(), address.begin(), address.end());
        const std::vector<int> covered(header.begin() + (MasterCrcCoversCts ? 0 : 1), header.end());
        const std::vector<int> crc = Bits(SentCrc(covered), 4);
        header.insert(header.end(), crc.begin(), crc.end());
        const bool read = step.Type != TStep::stWrite;
        header.push_back(read ? 1 : 0);
        header.push_back(read ? 0 : 1);
        if (step.Type == TStep::stAbort) {
            header.resize(static_cast<std::size_t>(step.AbortAfter));
            append(header);
            return;
        }
        append(header);
        const int count = read ? step.Count : static_cast<int>(step.Data.size());
        for (int i = 0; i < count; ++i) {
            TExpected e;
            e.Kind = read ? TAccessKind::akRead : TAccessKind::akWrite;
            e.Slave = step.Slave;
            e.Address = (step.Address + i) % 128;
            e.Frame = cdm.size();
            e.Sequential = i > 0;
            cdm.push_back(1); // S of the data phase
            if (read) {
                cdm.insert(cdm.end(), 12, 0);
            } else {
                e.Data = step.Data[static_cast<std::size_t>(i)];
                const std::vector<int> data = Bits(e.Data, 8);
                append(data);
                append(Bits(SentCrc(data), 4));
            }
            cdm.push_back(0); // P
            expected.push_back(e);
        }
    }
};

} // namespace controlmodel
