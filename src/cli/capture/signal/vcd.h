// A Value Change Dump (IEEE 1364, section "Value change dump (VCD) files"), as sigrok-cli,
// PulseView, simulators and other tools write it:
//
//   $timescale 1 us $end
//   $scope module top $end
//   $var wire 1 ! MA $end
//   $var wire 1 " SLO $end
//   $upscope $end
//   $enddefinitions $end
//   #0 1! 1"
//   #10 0!
//   #15 1! 0"
//
// How the reader takes it: every 1-bit variable is a channel, in the order of its `$var`
// (vectors, reals, events and strings are ignored, and so are scopes: names are as declared).
// Value changes are `0`, `1`, `x` or `z` followed by the identifier, several on a line or one
// a line; `b`/`r` changes of other variables are skipped. Times are relative to the first
// `#` time (the capture's start), whose values (with those of `$dumpvars` before it) are the
// initial levels; all changes at one time are one edge; an x or z on a chosen channel sets
// LogicGapBit. Lines starting with the word META before the first `$` keyword (sigrok-cli
// writes "META samplerate: N" there when it converts a VCD to a VCD) are skipped. The capture
// ends at the last `#` time. A missing `$timescale`, a dump without any 1-bit variable, a time
// going backwards, an undeclared identifier or a malformed token stop the input with a
// TInputError naming the line.
#pragma once

#include "capture/capture.h"
#include "capture/signal/logicsource.h"

#include <memory>
#include <string_view>

// Reads the header (up to `$enddefinitions`) from `source`, which must outlive the reader.
std::unique_ptr<TLogicSource> OpenVcdSource(TByteSource& source);

// Whether the first bytes of an input are a VCD: after blanks, a `$` keyword of the header
// (`$date`, `$version`, `$comment`, `$timescale`, `$scope`, `$var`).
bool LooksLikeVcd(std::string_view firstBytes);
