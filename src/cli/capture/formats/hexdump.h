// Hexadecimal dumps of raw bytes as input of corvane-decode: the canonical "hexdump -C" form
// ("00000000  c0 04 c9 ba ...  |....|") and xxd's ("00000000: c004 c9ba ...  ....").
//
// Each line holds an offset (hexadecimal) and the bytes from there: single bytes separated by
// blanks up to the "|" of the ASCII column (hexdump -C), or after "offset:" groups of an even
// number of digits separated by single blanks, up to two blanks or the end (xxd, any -g and
// -c, -u; not -e, whose groups are little-endian words). A line that is only an offset (hexdump -C's last line) holds no byte. A "*" line
// stands for repeats of the line before it up to the offset of the next line (hexdump -C
// always, xxd -a for lines of zeros); they are expanded a bounded piece at a time.
//
// --frame-bytes N (required) cuts the bytes into frames of N bytes, counted from the first
// line's offset; a frame's Line is the line of its first byte (of the "*" line for repeated
// bytes); a trailing partial frame is ckInvalid with its digits, as with binary input.
// Offsets must follow on: a line whose offset is not where the bytes before it end (lines
// lost or out of order, a "*" run that is not whole lines) stops the input with a TInputError.
// A line that is not a dump line makes the frame being built ckInvalid (its digits so far
// and the line), and the rest of that frame's bytes a ckInvalid frame of their own, so that
// the frames after it keep their places.
#pragma once

#include "capture/capture.h"

#include <memory>
#include <string_view>
#include <vector>

std::unique_ptr<TCaptureReader> MakeHexdumpReader(std::unique_ptr<TByteSource> source,
                                                  const TReaderOptions& options);

// True when `firstLines` (trimmed, non-blank, at most 16) are dump lines as above whose
// offsets (of at least six digits) follow on, the first of them holding bytes.
bool LooksLikeHexdump(const std::vector<std::string_view>& firstLines);
