#include "firmware/HexFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "firmware/FileBytes.h"
#include "serial/TSerErr.h"

namespace vindelor::firmware {

namespace {

using serial::TSerErr;

constexpr int kNotHex = -1;

constexpr std::array<int, 256> MakeDigitTable() {
    std::array<int, 256> t {};
    for (auto& v : t) v = kNotHex;
    for (int c = '0'; c <= '9'; ++c) t[static_cast<std::size_t>(c)] = c - '0';
    for (int c = 'A'; c <= 'F'; ++c) t[static_cast<std::size_t>(c)] = c - 'A' + 10;
    for (int c = 'a'; c <= 'f'; ++c) t[static_cast<std::size_t>(c)] = c - 'a' + 10;
    return t;
}

constexpr std::array<int, 256> kDigit = MakeDigitTable();

// One call's scan state; nothing is shared between calls, so the window thread and the receive
// thread may load files at the same time.
class HexScanner {
public:
    explicit HexScanner(std::string_view text) : text_(text) {}

    // Moves past the next ':'; false when there is none left.
    bool NextRecord() {
        const auto colon = text_.find(':', pos_);
        if (colon == std::string_view::npos) {
            pos_ = text_.size();
            return false;
        }
        pos_ = colon + 1;
        sum_ = 0;
        return true;
    }

    // One byte from two hex digits, added to the record's sum.
    unsigned Byte() {
        if (text_.size() - pos_ < 2) Fail(text_.size());
        const int hi = kDigit[static_cast<unsigned char>(text_[pos_])];
        if (hi == kNotHex) Fail(pos_);
        const int lo = kDigit[static_cast<unsigned char>(text_[pos_ + 1])];
        if (lo == kNotHex) Fail(pos_ + 1);
        pos_ += 2;
        const unsigned b = static_cast<unsigned>(hi * 16 + lo);
        sum_ = (sum_ + b) & 0xFFu;
        return b;
    }

    unsigned Word() {
        const unsigned hi = Byte();
        return (hi << 8) | Byte();
    }

    unsigned Sum() const { return sum_; }

    // The format error at the record's start (the ':' just passed) when the type is wrong.
    [[noreturn]] void FailRecord() const { Fail(pos_ >= 9 ? pos_ - 9 : 0); }

private:
    [[noreturn]] void Fail(std::size_t offset) const {
        const std::size_t at = std::min(offset, text_.size());
        const auto line = static_cast<std::size_t>(std::count(text_.begin(), text_.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
        throw HexFormatError(line + 1, at);
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    unsigned sum_ = 0;
};

}  // namespace

std::int32_t LoadHexText(std::string_view text, std::span<std::uint8_t> buffer, std::uint32_t baseAddress,
                         HexLoadOutputs outputs) {
    if (!outputs.mask.empty() && outputs.mask.size() < buffer.size())
        throw std::invalid_argument("hex load mask smaller than the buffer");
    const auto capacity = static_cast<std::int64_t>(buffer.size());
    HexScanner scan(text);
    std::int64_t offset = 0;
    std::int64_t highest = -1;
    std::int32_t count = 0;

    while (scan.NextRecord()) {
        const unsigned n = scan.Byte();
        const unsigned a = scan.Word();
        const unsigned t = scan.Byte();
        std::int64_t i = std::int64_t {a} + offset - std::int64_t {baseAddress};
        switch (t) {
        case 0:
            for (unsigned k = 0; k < n; ++k, ++i) {
                if (i >= capacity) throw TSerErr(TSerErr::Open, "Buffer overflow loading hexfile");
                if (i < 0) throw TSerErr(TSerErr::Open, "Buffer underflow loading hexfile");
                const auto index = static_cast<std::size_t>(i);
                buffer[index] = static_cast<std::uint8_t>(scan.Byte());
                if (!outputs.mask.empty()) outputs.mask[index] = 1;
                ++count;
                highest = std::max(highest, i);
            }
            break;
        case 1:
            break;
        case 2:
            offset = std::int64_t {scan.Word()} * 16;
            break;
        case 4:
            offset = std::int64_t {scan.Word()} * 65536;
            break;
        default:
            scan.FailRecord();
        }
        scan.Byte();  // the record's checksum
        if (scan.Sum() != 0) throw TSerErr(TSerErr::Open, "Checksum error in hexfile");
    }
    if (outputs.byteCount) *outputs.byteCount = count;
    return static_cast<std::int32_t>(highest + 1);
}

std::int32_t LoadHexFile(const std::string& fileName, std::span<std::uint8_t> buffer, std::uint32_t baseAddress,
                         HexLoadOutputs outputs) {
    std::vector<std::uint8_t> bytes;
    if (const int error = ReadFileBytes(fileName, bytes); error != 0)
        throw std::system_error(error, std::generic_category(), "Cannot open " + fileName);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return LoadHexText(text, buffer, baseAddress, outputs);
}

}  // namespace vindelor::firmware
