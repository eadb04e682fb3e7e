#!/usr/bin/env python3
"""Writes the capture of the corvane-view screenshot (docs/screenshot-view.png): a BiSS-C
master and slave on MA and SLO as a Value Change Dump (IEEE 1364, timescale 10 ns), 3000
single-cycle frames of the window's default layout (26-bit position, nE and nW, CRC-6 with the
polynomial x^6 + x + 1 = 0x43, start value 0, sent inverted) at a clock of 1 MHz with a line
delay of 310 ns: a shaft turning back and forth, three frames whose data a disturbance changed
(CRC errors) and one step of the count (a jump).

  docs/view/make-screenshot-capture.py capture.vcd
  xvfb-run -s '-screen 0 1400x900x24' corvane-view --screenshot docs/screenshot-view.png \\
      --jump-threshold 200000 capture.vcd
"""
import math
import sys

TICK = 10e-9          # the timescale
PERIOD = 1e-6         # the clock, 1 MHz
DELAY = 310e-9        # the line delay
TIMEOUT = 4 * PERIOD  # the slave's timeout after the last bit
FRAME_EVERY = 64e-6
FRAMES = 3000
CRC_ERRORS = {700, 1510, 2420}
JUMP_AT = 1900
JUMP = 400000


def crc6(bits):
    """CRC of bits (most significant first) with x^6 + x + 1, start 0, not yet inverted."""
    register = 0
    for bit in bits:
        feedback = ((register >> 5) & 1) ^ bit
        register = (register << 1) & 0x3F
        if feedback:
            register ^= 0x03
    return register


def frame_bits(count, corrupt):
    data = [(count >> (25 - i)) & 1 for i in range(26)] + [1, 1]  # nE, nW inactive
    crc = crc6(data) ^ 0x3F
    if corrupt:
        data[20] ^= 1  # a bit changed on the line: the CRC no longer fits
    # s0 (idle), s1 (still high), ACK, start, CDS, data, CRC
    return [1, 1, 0, 1, 0] + data + [(crc >> (5 - i)) & 1 for i in range(6)]


def main():
    out = open(sys.argv[1], "w", encoding="ascii")
    out.write("$date generated $end\n$version make-screenshot-capture.py $end\n")
    out.write("$timescale 10 ns $end\n$scope module top $end\n")
    out.write("$var wire 1 ! MA $end\n$var wire 1 \" SLO $end\n$upscope $end\n$enddefinitions $end\n")
    changes = {}  # tick -> {id: level}

    def put(time, ident, level):
        changes.setdefault(round(time / TICK), {})[ident] = level

    for k in range(FRAMES):
        t = 20e-6 + k * FRAME_EVERY
        count = int(2.0e7 + 3.0e6 * math.sin(2 * math.pi * t / 0.12) + 1500 * math.sin(k * 1.7))
        if k >= JUMP_AT:
            count += JUMP
        bits = frame_bits(count, k in CRC_ERRORS)
        n = len(bits)
        put(t, "!", 0)
        rises = [t + PERIOD / 2 + j * PERIOD for j in range(n)]
        for j, r in enumerate(rises):
            put(r, "!", 1)
            if j < n - 1:
                put(r + PERIOD / 2, "!", 0)
        level = 1
        for j in range(1, n):
            if bits[j] != level:
                put(rises[j - 1] + DELAY, '"', bits[j])
                level = bits[j]
        # The timeout: SLO low after the last bit, then high again.
        if level != 0:
            put(rises[n - 1] + DELAY, '"', 0)
        put(rises[n - 1] + DELAY + TIMEOUT, '"', 1)
    out.write("$dumpvars\n1!\n1\"\n$end\n#0\n")
    for tick in sorted(changes):
        out.write("#%d %s\n" % (tick, " ".join("%d%s" % (v, i) for i, v in changes[tick].items())))
    out.write("#%d\n" % round((20e-6 + FRAMES * FRAME_EVERY) / TICK))


if __name__ == "__main__":
    main()
