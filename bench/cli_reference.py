#!/usr/bin/env python3
"""A straightforward decoder of hexadecimal frame lines in plain Python, for comparison with
corvane-decode: the window's layout (26 position bits, nE, nW, CRC-6 0x43 sent inverted),
the same cleaning and length rules, the CRC bit by bit, and the same CSV records.

    cli_reference.py FILE > records.csv
"""
import sys

N, K, POLY, WIDTH = 26, 2, 0x43, 6


def crc(value, bits):
    reg = 0
    for i in range(bits - 1, -1, -1):
        top = (reg >> (WIDTH - 1)) & 1
        reg = (reg << 1) & ((1 << WIDTH) - 1)
        if top ^ ((value >> i) & 1):
            reg ^= POLY & ((1 << WIDTH) - 1)
    return reg


def clean(line):
    text = "".join(c for c in line if c.isascii() and c.isalnum())
    return text.replace("0x", "", 1)


def to_bits(text):
    """The frame as (number, length in bits), or None when it is not a frame."""
    try:
        value = int(text, 16)
    except ValueError:
        return None
    significant = len(text.lstrip("0"))
    if significant <= 16:
        return value, 64
    if significant > 64:
        return None
    digits = text[-64:]
    return int(digits, 16), 4 * len(digits)


def main():
    name = sys.argv[1]
    out = sys.stdout
    out.write("source,input,outcome,ack,multiturn,position,count,error,warning,"
              "crc_received,crc_calculated,crc_ok,truncated,cds\n")
    with open(name, encoding="utf-8", errors="replace") as lines:
        for number, line in enumerate(lines, 1):
            stripped = line.strip()
            if not stripped or stripped.startswith("#"):
                continue
            text = clean(line)
            frame = to_bits(text) if text else None
            if frame is None:
                out.write(f"{name}:{number},{text},invalid,,,,,,,,,,,\n")
                continue
            value, length = frame
            bits = [(value >> (length - 1 - i)) & 1 for i in range(length)]
            pair = next((i for i in range(1, length - 1) if bits[i] == 0 and bits[i + 1] == 1), -1)
            if pair < 0:
                out.write(f"{name}:{number},{text},no_start_bit,,,,,,,,,,,\n")
                continue
            first = pair + 3
            field = bits[first:first + N + K + WIDTH]
            truncated = first + N + K + WIDTH > length
            field += [0] * (N + K + WIDTH - len(field))
            data = int("".join(map(str, field[:N + K])), 2)
            received = int("".join(map(str, field[N + K:])), 2)
            calculated = crc(data, N + K)
            ok = not truncated and calculated == received ^ ((1 << WIDTH) - 1)
            # The CDS bit follows the start bit s(pair + 1); empty past the last bit.
            cds = bits[pair + 2] if pair + 2 < length else ""
            position = data >> K
            error = (data >> 1) & 1 == 0
            warning = data & 1 == 0
            out.write(f"{name}:{number},{text},decoded,{pair + 1},0,{position},{position},"
                      f"{str(error).lower()},{str(warning).lower()},{received},{calculated},"
                      f"{str(ok).lower()},{str(truncated).lower()},{cds}\n")


if __name__ == "__main__":
    main()
