#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vindelor::testing {

// Intel HEX text for test files: data records of up to 16 bytes, an extended linear address
// record whenever the upper 16 bits change, and the end record.
class HexText {
public:
    HexText& data(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
        for (std::size_t i = 0; i < bytes.size(); i += 16) {
            const std::uint32_t a = address + static_cast<std::uint32_t>(i);
            if ((a >> 16) != upper_) {
                upper_ = a >> 16;
                record(0, 4, {static_cast<std::uint8_t>(upper_ >> 8), static_cast<std::uint8_t>(upper_)});
            }
            const std::size_t n = bytes.size() - i < 16 ? bytes.size() - i : 16;
            record(static_cast<std::uint16_t>(a), 0, std::vector<std::uint8_t>(bytes.begin() + static_cast<long>(i),
                                                                               bytes.begin() + static_cast<long>(i + n)));
        }
        return *this;
    }
    std::string text() const { return text_ + ":00000001FF\n"; }

private:
    void record(std::uint16_t offset, std::uint8_t type, const std::vector<std::uint8_t>& bytes) {
        unsigned sum = static_cast<unsigned>(bytes.size()) + (offset >> 8) + (offset & 0xFF) + type;
        char head[16];
        std::snprintf(head, sizeof head, ":%02X%04X%02X", static_cast<unsigned>(bytes.size()), offset, type);
        text_ += head;
        for (auto b : bytes) {
            std::snprintf(head, sizeof head, "%02X", b);
            text_ += head;
            sum += b;
        }
        std::snprintf(head, sizeof head, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text_ += head;
    }
    std::string text_;
    std::uint32_t upper_ = 0;
};

}  // namespace vindelor::testing
