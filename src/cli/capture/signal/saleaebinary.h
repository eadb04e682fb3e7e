// The binary export of a logic analyzer's software (Logic 2, "Export Raw Data", binary): one
// file per digital channel, `digital_N.bin` for channel N, all numbers little-endian:
//
//   byte[8] "<SALEAE>"; int32 version; int32 type (0: digital)
//   version 0: uint32 initial_state; double begin_time; double end_time;
//              uint64 num_transitions; double transition_time[num_transitions]
//   version 1: uint64 chunk_count; then per chunk: uint32 initial_state; double sample_rate;
//              double begin_time; double end_time; uint64 num_transitions;
//              double transition_time[num_transitions]
//
// Times are in seconds; the level toggles at each transition. In version 1 the chunks are
// stretches with data; between one chunk's end and the next one's begin a channel has none.
//
// How the reader takes it: the two chosen channels' files are read side by side, in constant
// memory, their transitions merged in time order; changes of both channels at the same time
// are one edge. Times are relative to the earlier begin_time of the two (the capture's
// start); a channel outside its chunks sets LogicGapBit. The capture ends at the later end
// time. A wrong identifier, version or type, an initial state other than 0 or 1, a time that
// is not finite, goes backwards or lies outside its chunk, a file that ends early or has bytes
// after its last transition stop the input with a TInputError naming the file and the byte
// offset.
#pragma once

#include "capture/capture.h"
#include "capture/signal/logicsource.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct TSaleaeBinaryChannel {
    // The file's name as errors name it ("digital_0.bin"); empty for a channel the export lacks.
    std::string Name;
    // Opens the file; called only for the chosen channels, once each.
    std::function<std::unique_ptr<TByteSource>()> Open;
};

// A source over channel files given as openers: channel i is channels[i]. The file names
// without ".bin" are the channel names. For tests and for callers with their own files.
std::unique_ptr<TLogicSource> OpenSaleaeBinarySource(std::vector<TSaleaeBinaryChannel> channels);

// A source over an export folder, or over the channel files themselves: each file must be
// named `digital_N.bin` (channel N); a folder's other files (analog exports) are ignored.
// Throws TInputError when no channel file is found or a file name holds no channel number.
std::unique_ptr<TLogicSource> OpenSaleaeBinaryExport(const std::vector<std::filesystem::path>& paths);

// Whether the first bytes of an input are a digital binary export: the identifier, version 0
// or 1 and type 0 (digital).
bool LooksLikeSaleaeBinary(std::string_view firstBytes);

// The export folder that the input `path` stands for as a binary export: its folder for a
// `digital_N.bin` file that begins as a digital binary export, the folder itself for a folder
// holding a `digital_N.bin` file; empty for anything else. One export given as several of its
// files (a shell's `export/digital_*.bin`) is one input: each file stands for all of them.
std::filesystem::path SaleaeBinaryExportFolder(const std::filesystem::path& path);
