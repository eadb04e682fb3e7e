#!/usr/bin/env python3
"""Writes the seed corpus of the DecodeFrame fuzz harness into fuzz/corpus/.

Each file uses the harness's byte layout (see decode_fuzzer.cpp): a position-length byte (n - 1
for n from 1 to 50, or 0xE0 and a 16-bit n + 100 otherwise), a scale byte (0: 360 / 67108864,
4: two little-endian int32 follow, 6: an int32 numerator over 0), a separator byte (0: '.' and
',', 1: ',' and '.'), a unit byte (0: "deg", 1: empty), the text byte 1 (Latin-1 text follows),
then the text. The seeds are captured frames of the kinds an engineer pastes, and the awkward
inputs around them.

Usage: fuzz/make-corpus.py [output directory]
"""

import os
import struct
import sys


def crc6(bits):
    """Bit-serial CRC x^6 + x + 1, start 0, most significant bit first."""
    reg = 0
    for b in bits:
        feedback = ((reg >> 5) & 1) ^ b
        reg = (reg << 1) & 0x3F
        if feedback:
            reg ^= 0x03
    return reg


def frame(ack_ones, ack_zeros, n, position, status=3, cds=0, crc_ok=True, rest=0, cut=False):
    """Builds a 64-bit frame as 16 hex digits: ACK (ones then zeros), start, CDS, position,
    nE, nW and the inverted CRC, then `rest` bits filling the word. With `cut` a frame that
    runs past the word loses its tail, as a too short capture does."""
    bits = [1] * ack_ones + [0] * ack_zeros + [1, cds]
    data = [(position >> (n - 1 - i)) & 1 for i in range(n)] + [(status >> 1) & 1, status & 1]
    crc = crc6(data) ^ 0x3F
    if not crc_ok:
        crc ^= 0x01
    bits += data + [(crc >> (5 - i)) & 1 for i in range(6)]
    if cut:
        bits = bits[:64]
    assert len(bits) <= 64, "frame does not fit"
    tail = 64 - len(bits)
    bits += [(rest >> (tail - 1 - i)) & 1 for i in range(tail)]
    return "%016X" % int("".join(map(str, bits)), 2)


def length_bytes(n):
    if 1 <= n <= 50:
        return bytes([n - 1])
    return bytes([0xE0]) + struct.pack("<H", n + 100)


def seed(text, n=26, scale=None, zero_denominator=None, comma=False, unit="deg"):
    out = length_bytes(n)
    if zero_denominator is not None:
        out += bytes([6]) + struct.pack("<i", zero_denominator)
    elif scale is None:
        out += bytes([0])
    else:
        out += bytes([4]) + struct.pack("<ii", *scale)
    out += bytes([1 if comma else 0])
    out += bytes([0 if unit == "deg" else 1])
    out += bytes([1]) + text.encode("latin-1")
    return out


def seeds():
    default = "C004C9BA71753000"
    assert frame(2, 11, 26, 26440930, rest=0x3000) == default
    yield "default", seed(default)
    yield "default-typed", seed(" 0x c004 c9ba 7175 3000 ")
    yield "default-punctuated", seed(" 0xC004 C9BA-7175:3000 ")
    yield "warning", seed("C004C9BA71548000")
    yield "error", seed("C004C9BA71360000")
    yield "error-warning", seed("C004C9BA71178000")
    yield "crc-error", seed("C004C9BA81753000")
    yield "full-scale", seed("C005FFFFFFF10000")
    yield "short-input", seed("4C9BA71753")
    yield "inner-0x", seed("10x5")
    yield "empty", seed("")
    yield "stray-letter", seed("G1")
    yield "uppercase-0X", seed("0X12")
    yield "17-digits", seed("1C004C9BA71753000")
    yield "leading-zeros-too-long", seed("0001C004C9BA71753000")
    yield "leading-zeros", seed("0000C004C9BA71753000")
    yield "all-ones", seed("FFFFFFFFFFFFFFFF")
    yield "all-zeros", seed("0000000000000000")
    yield "first-pair-only", seed("4000000000000000")
    yield "latest-start", seed("0000000000000001")
    yield "negative-zero", seed(frame(2, 11, 26, 0), scale=(-360, 67108864))
    yield "negative-tiny", seed(frame(2, 11, 26, 1), scale=(-1, 2100000000))
    yield "n13", seed(default, n=13, scale=(360, 8192))
    yield "negative-numerator", seed(default, scale=(-360, 67108864))
    yield "comma-decimal", seed(frame(1, 1, 26, 2469), scale=(1, 2), comma=True)
    yield "point-decimal", seed(frame(1, 1, 26, 2469), scale=(1, 2))
    yield "n50-exponent", seed(frame(1, 1, 50, 2**50 - 1), n=50, scale=(1, 1))
    yield "n50-grouped", seed(frame(1, 1, 50, 999999999999999), n=50, scale=(1, 1))
    # 9 x 1111111111111107 = 9.9999999999999964e15: fifteen nines round up to 1E0016.
    yield "n50-carry", seed(frame(1, 1, 50, 1111111111111107), n=50, scale=(9, 1))
    yield "n50-truncated", seed(frame(0, 6, 50, 123456789, cut=True), n=50)
    yield "n1", seed(frame(3, 3, 1, 1, status=2, rest=0x155), n=1, scale=(1, 2))
    yield "zero-denominator", seed(default, zero_denominator=360, unit="")
    yield "length-0", seed(default, n=0)
    yield "length-negative", seed(default, n=-7)
    yield "length-64", seed(default, n=64)
    yield "length-200", seed(default, n=200)
    yield "control-and-accents", seed("\tC004\u00e9C9BA 7175\r\n3000\u00a0")
    yield "spi-capture", seed("$C0-04-C9-BA-71-75-30-00#", unit="")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "corpus")
    os.makedirs(out_dir, exist_ok=True)
    count = 0
    for name, data in seeds():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)
        count += 1
    print("wrote %d seeds to %s" % (count, out_dir))


if __name__ == "__main__":
    main()
