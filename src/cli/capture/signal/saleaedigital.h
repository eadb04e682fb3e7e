// The digital CSV export of a logic analyzer's software (Logic 2, "Export Raw Data", CSV):
//
//   Time [s],MA,SLO,Channel 2
//   0.000000000,1,1,0
//   0.000001250,0,1,0
//   ...
//   0.001000000,X,X,X
//
// A header `Time [s]` and one column per exported channel, named as the capture names it; a
// row at the start of the capture and one at every time any channel changes, the time in
// seconds; values 0 and 1, and X where a channel has no data (disabled, or a gap in the
// capture).
//
// How the reader takes it: times are made relative to the first row (the capture's start);
// a change of the chosen channels is an edge, and an X in either of them an edge with
// LogicGapBit (the levels of such an edge are those of the last known values). A last row
// with X in every channel marks the end of the capture: it sets EndTime and is no edge;
// otherwise the capture ends at the last row. Blank lines are skipped. A row with another
// number of fields than the header, a time that is not a number or goes backwards, or a value
// other than 0, 1 or X stops the input with a TInputError naming the line.
#pragma once

#include "capture/capture.h"
#include "capture/signal/logicsource.h"

#include <memory>
#include <string_view>

// Reads the header from `source` (which must outlive the reader); throws TInputError when it
// is not the header of a digital export.
std::unique_ptr<TLogicSource> OpenSaleaeDigitalSource(TByteSource& source);

// Whether the first bytes of an input (up to 64 KiB) are a digital CSV export: the header as
// above, and the first data row, when there is one, a time followed by 0, 1 or X values.
// An SPI export (`Time [s],Packet ID,MOSI,MISO`) is not one.
bool LooksLikeSaleaeDigital(std::string_view firstBytes);
