#include "firmware/HexFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "serial/TSerErr.h"

namespace vindelor::firmware {

namespace {

using serial::TSerErr;

// Digit values; anything that is not a hexadecimal digit has the 0x100 bit, so a run of digits
// can be checked with one OR instead of a branch per character.
constexpr unsigned kNotHex = 0x100;

constexpr std::array<std::uint16_t, 256> MakeDigitTable() {
    std::array<std::uint16_t, 256> t{};
    for (auto& v : t) v = kNotHex;
    for (int c = '0'; c <= '9'; ++c)
        t[static_cast<std::size_t>(c)] = static_cast<std::uint16_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        t[static_cast<std::size_t>(c)] = static_cast<std::uint16_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c)
        t[static_cast<std::size_t>(c)] = static_cast<std::uint16_t>(c - 'a' + 10);
    return t;
}

constexpr std::array<std::uint16_t, 256> kDigit = MakeDigitTable();

unsigned Digit(char c) {
    return kDigit[static_cast<unsigned char>(c)];
}

// The same for two characters at once: the byte they spell, or a value with the 0x100 bit.
// Built once per process, on first use (too large for every compiler's constant evaluation).
const std::uint16_t* PairTable() {
    static const std::vector<std::uint16_t> table = [] {
        std::vector<std::uint16_t> t(65536);
        for (unsigned hi = 0; hi < 256; ++hi)
            for (unsigned lo = 0; lo < 256; ++lo)
                t[hi * 256 + lo] = static_cast<std::uint16_t>(
                    (kDigit[hi] | kDigit[lo]) & kNotHex ? kNotHex : kDigit[hi] * 16 + kDigit[lo]);
        return t;
    }();
    return table.data();
}

// The longest record text after its ':': count, address, type, 255 data bytes, checksum.
constexpr std::size_t kLongestRecord = 2 + 4 + 2 + 255 * 2 + 2;
// A file is read in pieces of this size, so the whole text never has to be in memory at once.
constexpr std::size_t kChunk = 64 * 1024;

// One call's scan state; nothing is shared between calls, so the window thread and the receive
// thread may load files at the same time. The text is either all in memory or read from a file
// in chunks; every record is whole in the window before it is looked at, so a record is only
// ever "cut short" by the real end of the text.
class HexScanner {
  public:
    explicit HexScanner(std::string_view text) : text_(text), atEnd_(true) {}
    HexScanner(int fd, const std::string& fileName)
        : fd_(fd),
          fileName_(fileName),
          chunk_(kChunk + kLongestRecord),
          text_(chunk_.data(), 0),
          atEnd_(false) {}

    unsigned Pair(const char* p) const {
        return pair_[(unsigned{static_cast<unsigned char>(p[0])} << 8) |
                     static_cast<unsigned char>(p[1])];
    }

    // Moves past the next ':'; false when there is none left.
    bool NextRecord() {
        for (;;) {
            const auto colon = text_.find(':', pos_);
            if (colon == std::string_view::npos) {
                if (atEnd_) {
                    pos_ = text_.size();
                    return false;
                }
                Refill(text_.size());
            } else if (!atEnd_ && text_.size() - colon <= kLongestRecord) {
                Refill(colon);
            } else {
                pos_ = colon + 1;
                sum_ = 0;
                return true;
            }
        }
    }

    // One byte from two hex digits, added to the record's sum.
    unsigned Byte() {
        if (text_.size() - pos_ < 2) Fail(text_.size());
        const unsigned hi = Digit(text_[pos_]);
        if (hi & kNotHex) Fail(pos_);
        const unsigned lo = Digit(text_[pos_ + 1]);
        if (lo & kNotHex) Fail(pos_ + 1);
        pos_ += 2;
        const unsigned b = hi * 16 + lo;
        sum_ = (sum_ + b) & 0xFFu;
        return b;
    }

    // The common case of a data record, all at once: n bytes that are all present, all digits,
    // and all land inside `out`. Returns false without storing anything otherwise, and the
    // caller goes byte by byte, which stores and fails exactly where the fault is.
    bool Bytes(unsigned n, std::uint8_t* out) {
        const std::size_t chars = std::size_t{n} * 2;
        if (text_.size() - pos_ < chars) return false;
        const char* p = text_.data() + pos_;
        std::array<std::uint8_t, 255> bytes;
        unsigned bad = 0;
        unsigned sum = sum_;
        // A local copy of the table pointer: the byte stores below could otherwise alias it.
        const std::uint16_t* const table = pair_;
        for (unsigned k = 0; k < n; ++k) {
            const unsigned b = table[(unsigned{static_cast<unsigned char>(p[2 * k])} << 8) |
                                     static_cast<unsigned char>(p[2 * k + 1])];
            bad |= b;
            bytes[k] = static_cast<std::uint8_t>(b);
            sum += b;
        }
        if (bad & kNotHex) return false;
        std::memcpy(out, bytes.data(), n);
        sum_ = sum & 0xFFu;
        pos_ += chars;
        return true;
    }

    // A record's count, address and type in one go; false (nothing read) when they are not all
    // there or not all digits, and the caller reads them one by one to find the fault.
    bool Head(unsigned& n, unsigned& address, unsigned& type) {
        if (text_.size() - pos_ < 8) return false;
        const char* p = text_.data() + pos_;
        const unsigned b0 = Pair(p), b1 = Pair(p + 2), b2 = Pair(p + 4), b3 = Pair(p + 6);
        if ((b0 | b1 | b2 | b3) & kNotHex) return false;
        n = b0;
        address = (b1 << 8) | b2;
        type = b3;
        sum_ = (sum_ + b0 + b1 + b2 + b3) & 0xFFu;
        pos_ += 8;
        return true;
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
        const std::size_t before = LinesBefore();
        throw HexFormatError(before == kUnknown ? 0 : before + NewLines(at) + 1,
                             offsetBefore_ + at);
    }

    static constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);

    // Line ends in the text already dropped from the window. Counted only when a fault needs
    // them, by reading the file's start again, so the normal load never pays for it.
    std::size_t LinesBefore() const {
        if (offsetBefore_ == 0) return 0;
        std::vector<char> piece(kChunk);
        std::size_t lines = 0;
        for (std::size_t done = 0; done < offsetBefore_;) {
            const std::size_t want = std::min(piece.size(), offsetBefore_ - done);
            const ssize_t n = ::pread(fd_, piece.data(), want, static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return kUnknown;  // not a plain file (a pipe), or it changed meanwhile
            lines += static_cast<std::size_t>(std::count(piece.data(), piece.data() + n, '\n'));
            done += static_cast<std::size_t>(n);
        }
        return lines;
    }

    std::size_t NewLines(std::size_t end) const {
        return static_cast<std::size_t>(
            std::count(text_.begin(), text_.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
    }

    // Drops the window's text before `keep` and reads until the chunk is full or the file ends.
    void Refill(std::size_t keep) {
        offsetBefore_ += keep;
        std::size_t used = text_.size() - keep;
        std::memmove(chunk_.data(), text_.data() + keep, used);
        while (used < chunk_.size()) {
            const ssize_t n = ::read(fd_, chunk_.data() + used, chunk_.size() - used);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0)
                throw std::system_error(errno, std::generic_category(), "Cannot read " + fileName_);
            if (n == 0) {
                atEnd_ = true;
                break;
            }
            used += static_cast<std::size_t>(n);
        }
        text_ = std::string_view(chunk_.data(), used);
        pos_ = 0;
    }

    const std::uint16_t* pair_ = PairTable();
    int fd_ = -1;
    std::string fileName_;
    std::vector<char> chunk_;
    std::string_view text_;
    bool atEnd_;
    std::size_t pos_ = 0;
    unsigned sum_ = 0;
    std::size_t offsetBefore_ = 0;  // file offset of text_[0]
};

std::int32_t Load(HexScanner& scan, std::span<std::uint8_t> buffer, std::uint32_t baseAddress,
                  HexLoadOutputs outputs) {
    // The result is a 32-bit count, so a larger buffer is used only up to what it can express.
    const std::int64_t capacity =
        std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()), INT32_MAX);
    std::int64_t offset = 0;
    std::int64_t highest = -1;
    std::int64_t count = 0;

    while (scan.NextRecord()) {
        unsigned n = 0, a = 0, t = 0;
        if (!scan.Head(n, a, t)) {
            n = scan.Byte();
            a = scan.Word();
            t = scan.Byte();
        }
        std::int64_t i = std::int64_t{a} + offset - std::int64_t{baseAddress};
        switch (t) {
            case 0:
                if (n > 0 && i >= 0 && i + n <= capacity && scan.Bytes(n, buffer.data() + i)) {
                    const auto first = static_cast<std::size_t>(i);
                    if (!outputs.mask.empty())
                        std::fill_n(outputs.mask.begin() + static_cast<std::ptrdiff_t>(first), n,
                                    std::uint8_t{1});
                    count += n;
                    highest = std::max(highest, i + n - 1);
                    break;
                }
                for (unsigned k = 0; k < n; ++k, ++i) {
                    if (i >= capacity)
                        throw TSerErr(TSerErr::Open, "Buffer overflow loading hexfile");
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
                offset = std::int64_t{scan.Word()} * 16;
                break;
            case 4:
                offset = std::int64_t{scan.Word()} * 65536;
                break;
            default:
                scan.FailRecord();
        }
        scan.Byte();  // the record's checksum
        if (scan.Sum() != 0) throw TSerErr(TSerErr::Open, "Checksum error in hexfile");
    }
    if (outputs.byteCount)
        *outputs.byteCount = static_cast<std::int32_t>(std::min<std::int64_t>(count, INT32_MAX));
    return static_cast<std::int32_t>(highest + 1);
}

void CheckMask(std::span<std::uint8_t> buffer, const HexLoadOutputs& outputs) {
    if (!outputs.mask.empty() && outputs.mask.size() < buffer.size())
        throw std::invalid_argument("hex load mask smaller than the buffer");
}

}  // namespace

std::int32_t LoadHexText(std::string_view text, std::span<std::uint8_t> buffer,
                         std::uint32_t baseAddress, HexLoadOutputs outputs) {
    CheckMask(buffer, outputs);
    HexScanner scan(text);
    return Load(scan, buffer, baseAddress, outputs);
}

std::int32_t LoadHexFile(const std::string& fileName, std::span<std::uint8_t> buffer,
                         std::uint32_t baseAddress, HexLoadOutputs outputs) {
    CheckMask(buffer, outputs);
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "Cannot open " + fileName);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    HexScanner scan(fd, fileName);
    return Load(scan, buffer, baseAddress, outputs);
}

}  // namespace vindelor::firmware
