// The BiSS-C control channel: register reads and writes and commands, decoded from the one CDM
// bit the master sends on MA after each position frame and the one CDS bit the slave sends
// after the start bit, in frame order.
//
// The control frame as decoded (every field most significant bit first):
//   at least 14 frames with CDM = 0, then S = 1 (14 zeros also abort a control frame)
//   CTS = 1, register access:  ID2..ID0, A6..A0, CRC3..CRC0, R, W   (R W = 1 0 read, 0 1 write)
//   CTS = 0, command:          IDS7..IDS0 (slave mask), CMD1..CMD0, CRC3..CRC0
//   data phase, register access only:  S = 1, then
//     write: D7..D0, CRC3..CRC0, P = 0 on CDM
//     read:  12 zeros, P = 0 on CDM; D7..D0, CRC3..CRC0 on CDS, `lag` frames after the zeros
//   after P, S = 1 at once continues with the next address (sequential access), same direction.
// Every CRC is the 4-bit CRC with polynomial x^4 + x + 1 (0x13), start value 0, sent inverted.
// Whether the header's CRC covers CTS is left open by the public descriptions: both readings
// are tried and the one that holds is reported (CtsCoverage).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

// One frame's control bits. Cdm or Cds is -1 when the frame carries none (an invalid frame).
struct TControlBits {
    std::uint64_t Frame = 0; // the frame's number in its source
    double Time = 0.0;       // seconds from the start of the capture
    std::int8_t Cdm = -1;
    std::int8_t Cds = -1;
    std::uint32_t Source = 0;
};

enum class TAccessKind : std::uint8_t { akRead, akWrite, akCommand, akUnknown };

// Which reading of the header CRC held: over ID and address only, or over CTS too. Unknown when
// neither held, when the header was cut off, and for commands (CTS = 0 changes no CRC of
// start value 0, so both readings agree there).
enum class TCtsCoverage : std::uint8_t { ccUnknown, ccCovered, ccNotCovered };

// One register access (one address of a sequential access) or one command.
struct TRegisterAccess {
    // The frame holding the S that opens the access's data phase; for commands and for control
    // frames cut off before their data phase, the frame holding the control frame's S.
    std::uint64_t Frame = 0;
    double Time = 0.0;
    std::uint32_t Source = 0;
    TAccessKind Kind = TAccessKind::akUnknown;
    std::uint8_t Slave = 0;   // ID2..ID0 (register access)
    std::uint8_t Address = 0; // A6..A0, counted up by sequential access (modulo 128)
    std::uint8_t Data = 0;    // valid when HasData
    bool HasData = false;
    std::uint8_t SlaveMask = 0; // IDS7..IDS0 (command; 0 addresses every slave)
    std::uint8_t Command = 0;   // CMD1..CMD0 (command)
    bool CrcOk = false;         // every CRC of the access holds (header and data)
    bool Complete = false;      // every bit of the access was seen and the slave answered
    bool Sequential = false;    // a data phase after the first of its control frame
    std::int8_t Lag = -1;       // reads: frames between a CDM bit and the CDS bit answering it
    TCtsCoverage CtsCoverage = TCtsCoverage::ccUnknown;
};

// The CRC of the control frame over the low `count` bits of `bits`, most significant first,
// as sent (inverted).
std::uint8_t ControlCrc(std::uint32_t bits, int count);

// The standard register at `address` (bank select, EDS bank, profile ID, serial number,
// device ID, manufacturer ID); empty for any other address.
const char* StandardRegisterName(std::uint8_t address);

// Streaming decoder: feed the frames of one source in order, in batches of any size; records
// are appended as the accesses complete. Memory is constant: a read waits at most three frames
// past its stop bit for the end of the slave's reply, kept in a 64-frame bit history.
//
// A frame without a CDM bit (Cdm = -1) cuts the control frame under way: that access is
// reported incomplete, and decoding starts again after the next 14 zeros. A frame without a
// CDS bit makes a read whose reply window holds it unusable at that lag; a read whose reply
// cannot be read at any lag is reported incomplete.
class TControlDecoder {
public:
    void Feed(std::span<const TControlBits> frames, std::vector<TRegisterAccess>& out);
    // The end of the stream: a read waiting for its reply is decided on the frames seen, and
    // an access under way is reported incomplete. The decoder is then ready for a new stream,
    // with nothing learned.
    void Finish(std::vector<TRegisterAccess>& out);
    // Forgets everything, the lags learned included.
    void Reset();

private:
    enum class TPhase : std::uint8_t {
        phHunt,     // waiting for 14 zeros and S
        phHeader,   // the bits after the control frame's S
        phDataStart, // the S of the (first) data phase, right after R W
        phData,     // 12 bits and P of a data phase
        phAfterStop // after P: S continues with the next address, 0 ends the control frame
    };
    // A read whose data phase has ended on CDM, waiting for the last frame of its reply.
    struct TPendingRead {
        bool Active = false;
        std::uint64_t StartIndex = 0; // internal index of the data phase's S
        TRegisterAccess Access;
    };

    void Step(const TControlBits& bits, std::vector<TRegisterAccess>& out);
    void StartControlFrame(const TControlBits& bits);
    void EndHeader(std::vector<TRegisterAccess>& out);
    void FillHeaderFields();
    void StartDataPhase(const TControlBits& bits, std::uint64_t index);
    void EndDataPhase(std::vector<TRegisterAccess>& out);
    // Reports the access under way (if any) as incomplete and hunts for the next start.
    void CutControlFrame(std::vector<TRegisterAccess>& out);
    void DecideRead(TPendingRead& read, std::vector<TRegisterAccess>& out);
    // The 12 CDS bits at frames [first, first + 12), most significant first; false when one of
    // them is unknown or no longer (or not yet) in the history.
    bool ReplyBits(std::uint64_t first, std::uint32_t& bits) const;

    TPhase FPhase = TPhase::phHunt;
    std::uint32_t FZeros = 0; // consecutive CDM zeros, saturating
    std::uint64_t FIndex = 0; // frames seen (the next frame's internal index)
    // CDS history: bit i is the frame FIndex - 1 - i; FCdsKnown marks the frames with a bit.
    std::uint64_t FCdsBits = 0;
    std::uint64_t FCdsKnown = 0;

    std::uint32_t FBits = 0; // bits of the header or data phase so far
    int FCount = 0;
    TControlBits FControlStart; // the frame of the control frame's S
    TRegisterAccess FAccess;    // the access under way
    bool FAccessOpen = false;   // FAccess describes an access not yet reported
    bool FRead = false;         // direction of the control frame's data phases
    bool FHeaderOk = false;     // the header's CRC held (under either reading)
    std::uint64_t FDataStartIndex = 0;
    TPendingRead FPending;

    // Reply lag per slave ID, learned from the reads whose CRC held: the learned lag is tried
    // first; another lag replaces it once it alone has held on two reads in a row, so that one
    // corrupted reply that happens to pass at another lag does not move it.
    struct TLagState {
        std::int8_t Learned = -1;
        std::int8_t Candidate = -1;
    };
    std::array<TLagState, 8> FLags{};
};
