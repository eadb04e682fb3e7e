// The register sink of corvane-decode --registers: the control channel of each input decoded
// into register accesses, written as records in capture order, or with --summary gathered
// into the register map written at the end.
//
// Work is split between the pipeline's two sides. On the workers, each batch's frames are
// decoded and turned into their control bits (CDM from the frame's timing, CDS from the decode
// or, for records read back, as the input states it). On the calling thread, in input order,
// the control bits feed the sequential control decoder, whose accesses are written or counted.
// Every input is a stream of its own: the decoder starts afresh at each input and is finished
// (the access under way reported incomplete) at its end.
//
// Only inputs whose frames carry a CDM bit can join: signal captures and the CSV records
// corvane-decode wrote for one (columns cdm and time). Any other input stops the run with a
// TInputError that names the inputs that carry it.
#pragma once

#include "capture/control/controldecoder.h"
#include "capture/control/registermap.h"
#include "decode/framelayout.h"
#include "cli/records.h"
#include "cli/registers.h"
#include "cli/sink.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Whether a reader's frames carry the CDM bit: its sources number bursts (a signal capture or
// records of one read back).
inline bool CarriesControlBits(const TCaptureReader& reader) { return IsSignalCapture(reader); }

// The message of an input whose frames carry no CDM bit (read in format `format`).
std::string NoControlBitsMessage(std::string_view format);

class TRegisterSink final : public TOutputSink {
public:
    // `map`: write the register map at the end instead of the records. `names`: the inputs of
    // the run in order, as given, for the records' source ("-" for standard input).
    TRegisterSink(TOutputFormat format, const TFrameLayoutParams& layout, bool map,
                  const std::vector<std::string>& names);

    std::unique_ptr<TBatchResult> NewResult() const override;
    void Process(const TCaptureBatch& batch, TBatchResult& result) const override;
    void BeginInput(const TSinkInput& input, TSinkOutput& out) override;
    void Consume(const TCaptureBatch& batch, const TBatchResult& result, std::uint64_t sequence,
                 const TSinkInput& input, TSinkOutput& out) override;
    void EndInput(const TSinkInput& input, TSinkOutput& out) override;
    int Finish(std::uint64_t frames, TSinkOutput& out) override;

    // The map of the accesses so far (complete once Finish has run).
    const TRegisterMap& Map() const { return FMap; }

private:
    // Writes or counts the accesses the decoder appended to FAccesses, then forgets them.
    void TakeAccesses(std::uint32_t source, TSinkOutput& out);

    TOutputFormat FFormat;
    TFrameLayout FLayout;
    bool FWriteMap;
    TRegisterFormatter FFormatter;
    TControlDecoder FDecoder;
    TRegisterMap FMap;
    std::vector<TRegisterAccess> FAccesses; // appended by the decoder, taken at once
    TOutBuffer FText;
    bool FHeaderWritten = false;
    bool FAllGood = true; // every access so far complete with good CRCs
};
