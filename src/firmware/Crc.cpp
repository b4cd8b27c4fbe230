#include "firmware/Crc.h"

namespace vindelor::firmware {

namespace {

constexpr std::array<std::uint16_t, 256> MakeCrc16Table() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned c = i << 8;
        for (int bit = 0; bit < 8; ++bit) c = (c & 0x8000u) ? ((c << 1) ^ 0x1021u) : (c << 1);
        table[i] = static_cast<std::uint16_t>(c & 0xFFFFu);
    }
    return table;
}

// A constant of the program: computed by the compiler, never at run time.
constexpr std::array<std::uint16_t, 256> kCrc16Table = MakeCrc16Table();

std::array<std::uint32_t, 256> MakeCrc32Table() {
    // Built the way the polynomial is written down (most significant bit first), then mirrored,
    // which gives the usual reflected table.
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = ReverseBits(i, 8) << 24;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 0x80000000u) ? ((c << 1) ^ 0x04C11DB7u) : (c << 1);
        table[i] = ReverseBits(c, 32);
    }
    return table;
}

}  // namespace

std::uint32_t ReverseBits(std::uint32_t value, int width) {
    std::uint32_t out = 0;
    for (int bit = 0; bit < width && bit < 32; ++bit) {
        out = (out << 1) | (value & 1u);
        value >>= 1;
    }
    return out;
}

const std::array<std::uint16_t, 256>& Crc16Table() {
    return kCrc16Table;
}

const std::array<std::uint32_t, 256>& Crc32Table() {
    // Initialised once, thread-safely; read-only afterwards.
    static const std::array<std::uint32_t, 256> table = MakeCrc32Table();
    return table;
}

void BuildCrc32Table() {
    (void)Crc32Table();
}

std::uint16_t Crc16(const std::uint8_t* bytes, std::size_t count) {
    unsigned c = 0;
    for (std::size_t k = 0; k < count; ++k)
        c = kCrc16Table[((c >> 8) ^ bytes[k]) & 0xFFu] ^ ((c << 8) & 0xFFFFu);
    return static_cast<std::uint16_t>(c);
}

std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t count) {
    const auto& table = Crc32Table();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t k = 0; k < count; ++k) c = table[(c ^ bytes[k]) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

}  // namespace vindelor::firmware
