// Writes test captures for the corvane-decode benchmark: COUNT different frames of the
// window's layout as hexadecimal lines, ACK lengths of 2 to 17 bits, positions spread over
// the whole 26-bit range, one frame in 64 with a wrong CRC.
//   cli_frames COUNT FILE
#include "decode/framelayout.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: cli_frames COUNT FILE\n");
        return 2;
    }
    const std::uint64_t count = std::strtoull(argv[1], nullptr, 10);
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) {
        std::perror(argv[2]);
        return 2;
    }
    const TFrameLayout layout;
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    std::string text;
    static const char digits[] = "0123456789ABCDEF";
    for (std::uint64_t i = 0; i < count; ++i) {
        // xorshift64*: a different position, ACK and status for every frame.
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        const std::uint64_t r = state * 0x2545F4914F6CDD1DULL;
        const std::uint64_t position = r & ((1U << 26) - 1);
        const int ack = 2 + static_cast<int>((r >> 26) & 15);
        const auto status = static_cast<std::uint8_t>((r >> 30) % 8 == 0 ? (r >> 33) & 3 : 3);
        std::uint16_t crc = static_cast<std::uint16_t>(~layout.CalcCrc(position, status) & 0x3F);
        if (((r >> 36) & 63) == 0) {
            crc ^= 1;
        }
        // ACK: ones, then a zero; start bit 1, CDS 0; data; CRC; zeros to 64 bits.
        std::uint64_t word = 0;
        int bit = 63;
        auto put = [&](std::uint64_t field, int width) {
            for (int k = width - 1; k >= 0; --k, --bit) {
                word |= ((field >> k) & 1U) << bit;
            }
        };
        put((std::uint64_t{1} << (ack - 1)) - 1, ack - 1);
        put(0b010, 3);
        put(position, 26);
        put(status, 2);
        put(crc, 6);
        text.clear();
        for (int k = 60; k >= 0; k -= 4) {
            text += digits[(word >> k) & 0xF];
        }
        text += '\n';
        std::fwrite(text.data(), 1, text.size(), out);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
