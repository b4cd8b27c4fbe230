// LoadHexText on arbitrary text, with a buffer and mask of exactly the capacity so that the
// address sanitizer catches any store or read beyond them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <vector>

#include "firmware/HexFile.h"
#include "serial/TSerErr.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vindelor::firmware;
    if (size < 2) return 0;
    // The first two bytes choose the capacity (0..16320) and base address (0..0xFF0), so
    // overflow and underflow are reached as easily as a clean load.
    const std::size_t capacity = std::size_t{data[0]} * 64;
    const std::uint32_t base = std::uint32_t{data[1]} * 16;
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

    std::vector<std::uint8_t> buffer(capacity, 0xA5);
    std::vector<std::uint8_t> mask(capacity, 0);
    std::int32_t count = -1;
    try {
        const std::int32_t end =
            LoadHexText(text, buffer, base, {.mask = mask, .byteCount = &count});
        if (end < 0 || static_cast<std::size_t>(end) > capacity) std::abort();
        std::size_t marked = 0;
        for (std::size_t i = 0; i < capacity; ++i) {
            if (mask[i] && i >= static_cast<std::size_t>(end))
                std::abort();  // written beyond the result
            marked += mask[i];
        }
        if (end > 0 && !mask[static_cast<std::size_t>(end) - 1]) std::abort();
        if (count < 0 || static_cast<std::size_t>(count) < marked) std::abort();
    } catch (const vindelor::serial::TSerErr& e) {
        if (e.Code != 1) std::abort();
    } catch (const HexFormatError& e) {
        if (e.Offset > text.size()) std::abort();
    }
    return 0;
}
