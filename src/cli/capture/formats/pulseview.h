// PulseView's annotation export ("Export all annotations" of an SPI decoder trace) as input of
// corvane-decode.
//
// Each line is the annotation export format of PulseView's settings applied to one
// annotation; the default "%s %d: %r: %1" writes the sample range, the decoder's name, the
// annotation row and the annotation's text: "26-58 SPI: MISO data: C0", or for a whole
// transfer "26-540 SPI: MISO transfers: C0 04 C9 BA 71 75 30 00". With %q in the format the
// decoder, row and text stand in double quotes. The sample range may be missing (a format
// without %s); the row may be written as the class ("MISO transfer", "miso-data").
//
// The data line is the --column one (default miso). Without --frame-bytes each transfer line
// of it is one frame, and its one-byte "data" lines are ignored (an export of all rows holds
// both); an export that has data lines but no transfer line stops with a TInputError saying
// to give --frame-bytes. With --frame-bytes N the lines of the first kind met (data or
// transfer) are one stream of bytes cut into frames of N bytes, and lines of the other kind
// are ignored; a trailing partial frame is ckInvalid. Rows of other kinds (bits, warnings,
// the other data line, other decoders' rows) are ignored; an export without any line of the
// chosen data line stops with a TInputError that names the rows it holds. A line that is not
// an annotation, or whose text on the chosen data line is not hexadecimal words, is
// unreadable as capture.h describes. Lines are read in input order (PulseView writes the
// rows one after the other, each in sample order).
#pragma once

#include "capture/capture.h"

#include <memory>
#include <string_view>
#include <vector>

std::unique_ptr<TCaptureReader> MakePulseViewReader(std::unique_ptr<TByteSource> source,
                                                    const TReaderOptions& options);

// True when the first of `firstLines` (trimmed, non-blank, at most 16) is an annotation line
// as PulseView exports it with a sample range: "START-END DECODER: ROW: TEXT". sigrok-cli's
// lines with a class name ("20-284 spi-1: MISO transfer: \"C0 04\"", the text alone in
// quotes) are not claimed.
bool LooksLikePulseView(const std::vector<std::string_view>& firstLines);
