#include "largemotor/FlashTools.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "firmware/HexFile.h"
#include "largemotor/BootCommands.h"
#include "serial/LineTime.h"
#include "serial/TSerErr.h"
#include "util/SafeFile.h"

namespace vindelor::largemotor {

namespace {

constexpr int kExpectedTimeoutMs = 100;   // the empty reply of a read, byte by byte
constexpr int kDataTimeoutMs = 200;       // every other awaited byte
constexpr int kReadTrailerBytes = 4;
constexpr int kSettleMs = 100;
constexpr int kBootstrapWakeMs = 400;     // after the 0x00 that starts the bootstrap loader
constexpr int kAfterLoaderMs = 50;
constexpr int kAnswerSlackMs = 100;       // answers must be in once our bytes are on the line
constexpr std::uint8_t kWriteFlashAnnounce = 'D';
constexpr std::uint8_t kWriteFlashErase = 'F';
constexpr std::uint8_t kWriteFlashGo = 'G';
constexpr int kWriteFlashAnswerBytes = 4;
constexpr std::uint16_t kAddressProbeLength = 258;
constexpr std::uint32_t kSecondStage2CFirst = 0x2C;
constexpr std::uint32_t kSecondStage2CEnd = 0x800;
constexpr std::uint32_t kSecondStage100First = 0x100;
constexpr std::uint32_t kSecondStage100End = 0x500;
constexpr std::size_t kSendBootloaderBuffer = 10240;
constexpr std::size_t kNcxBootloaderBuffer = 1280;
constexpr int kTrailingWakes = 100;

// The read-back check of the empty reply: each byte is echoed, a different one fails.
int ReadExpected(const ToolContext& ctx, int expected) {
    const int b = ctx.port.WaitByte(kExpectedTimeoutMs);
    if (ctx.echo) ctx.echo->post(protocol::MsgReceivedByte, b, 0);
    if (b != expected) throw serial::TSerErr(serial::TSerErr::Open, "Forkert data modtaget");
    return b;
}

void SendCommand(serial::TSerCom& port, const std::vector<std::uint8_t>& frame) {
    for (auto b : frame) port.SendChar(b);
}

void SendBytes(serial::TSerCom& port, const std::uint8_t* p, std::size_t n) {
    port.SendString(p, static_cast<int>(n));
}

void SendWakes(serial::TSerCom& port, int repeats) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < repeats; ++i) {
        bytes.push_back(0xFF);
        bytes.push_back(kWakeXC164);
    }
    SendBytes(port, bytes.data(), bytes.size());
}

// A second stage from a hex file into a zeroed buffer. A file that cannot be opened comes out
// as std::system_error; everything else the loader throws passes through as it is.
std::vector<std::uint8_t> LoadSecondStage(const std::string& file, std::size_t size) {
    std::vector<std::uint8_t> buffer(size, 0);
    firmware::LoadHexFile(file, buffer, 0);
    return buffer;
}

}  // namespace

void RealSleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string CannotOpenText(const std::string& file, int error) {
    return "Cannot open file \"" + file + "\". " + std::strerror(error);
}

PortLoan::PortLoan(const ToolContext& ctx, bool restoreRate) : ctx_(ctx), restoreRate_(restoreRate) {
    if (ctx_.thread) ctx_.thread->Pause();
}

PortLoan::~PortLoan() {
    try {
        if (restoreRate_) ctx_.port.SetBaudRate(kNormalBaud);
    } catch (...) {
        // The port is gone; the thread finds out itself and ends.
    }
    if (ctx_.thread) ctx_.thread->Resume();
}

namespace {

// The flash data carries no check: a flipped byte, a reply that came twice or from another
// device, or a late one taken for the next block would go into the file unseen. So every block
// is read until two reads agree, each taken only on a quiet line and with nothing
// after it, and asked again a few times before the read gives up naming the block.
constexpr int kBlockReads = 10;
constexpr int kSettleQuietMs = 50;
constexpr int kSettleLimitMs = 2000;
// Asks of one address check probe before the check fails there.
constexpr int kProbeAttempts = 3;
constexpr std::size_t kProbeAnswerBytes = 5;

std::string BlockText(std::uint32_t address) {
    char text[32];
    std::snprintf(text, sizeof text, "Flash block 0x%06X: ", address);
    return text;
}

// Waits until no byte has come for kSettleQuietMs. A line that never goes quiet is an error,
// named by what was being asked (a block, a probe).
void SettleLine(const ToolContext& ctx, const std::string& asking) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSettleLimitMs);
    while (ctx.port.ReadByteWithin(kSettleQuietMs) >= 0) {
        ctx.port.DiscardInput();
        if (std::chrono::steady_clock::now() >= end)
            throw serial::TSerErr(serial::TSerErr::Io, (asking + "the line never goes quiet").c_str());
    }
}

// One read of a block: the request, the empty reply, the data and the 4 bytes after them. What
// follows within a turnaround makes the read void (stray), as does a failed check (thrown).
struct BlockRead {
    std::vector<std::uint8_t> data;
    bool stray = false;
};
BlockRead ReadBlockOnce(const ToolContext& ctx, std::uint32_t address, bool checkAfter) {
    BlockRead r;
    r.data.resize(kFlashReadBlock);
    SendCommand(ctx.port, ReadCommand(address, kFlashReadBlock));
    ctx.port.EnsureSent(kAnswerSlackMs);
    ReadExpected(ctx, Boot::Read);
    ReadExpected(ctx, 0x00);
    ReadExpected(ctx, 0x5D);
    for (std::uint32_t i = 0; i < kFlashReadBlock; ++i)
        r.data[i] = static_cast<std::uint8_t>(ctx.port.WaitByte(kDataTimeoutMs));
    for (int i = 0; i < kReadTrailerBytes; ++i) ctx.port.WaitByte(kDataTimeoutMs);
    if (checkAfter) {
        const auto quiet = std::chrono::steady_clock::now() +
                           std::chrono::ceil<std::chrono::steady_clock::duration>(
                               serial::QuietAfterReply(kReadTrailerBytes, ctx.port.GetBaudRate()));
        r.stray = ctx.port.ReadByteBefore(quiet) >= 0;
    }
    return r;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadFlash(const ToolContext& ctx,
                                                   const std::function<void(std::uint32_t)>& progress,
                                                   FlashReadMode mode) {
    std::vector<std::uint8_t> flash(kFlashSize);
    PortLoan loan(ctx, true);
    const bool verify = mode == FlashReadMode::Verified;
    for (std::uint32_t offset = 0; offset < kFlashSize; offset += kFlashReadBlock) {
        const std::uint32_t address = kFlashBase + offset;
        std::vector<std::vector<std::uint8_t>> clean;  // the reads of the block taken so far
        std::string failure = "no two reads agree";
        bool done = false;
        bool kept = false;  // the read before was kept in `clean`
        for (int n = 0; n < kBlockReads && !done; ++n) {
            if (ctx.cancelled()) return std::nullopt;
            // Bytes waiting now came after the read before: it was not the only answer.
            if (ctx.port.DiscardInput() > 0) {
                if (kept) clean.pop_back();
                SettleLine(ctx, BlockText(address));
            }
            kept = false;
            try {
                // A read that would be taken is checked for anything after it; the others are
                // checked by the read that follows them.
                BlockRead r = ReadBlockOnce(ctx, address, !verify || !clean.empty());
                if (r.stray) {
                    failure = "more than one answer";
                    SettleLine(ctx, BlockText(address));
                    continue;
                }
                // Two reads that agree: a garbled byte, or another block's data, never comes the
                // same way twice.
                const bool agreed = std::find(clean.begin(), clean.end(), r.data) != clean.end();
                if (!verify || agreed) {
                    std::copy(r.data.begin(), r.data.end(), flash.begin() + offset);
                    done = true;
                } else {
                    failure = "no two reads agree";
                    clean.push_back(std::move(r.data));
                    kept = true;
                }
            } catch (const serial::TSerErr& e) {
                failure = e.Text;
                SettleLine(ctx, BlockText(address));
            }
        }
        if (!done) throw serial::TSerErr(serial::TSerErr::Io, (BlockText(address) + failure).c_str());
        if (progress) progress(offset + kFlashReadBlock);
    }
    ctx.sleep(kSettleMs);
    return flash;
}

FlashReadOutcome ReadFlashToFile(const ToolContext& ctx, const std::string& path,
                                 const std::function<void(std::uint32_t)>& progress, FlashReadMode mode) {
    // A file that cannot be written is found before the long read, not after it.
    if (std::string reason = util::CheckWritableSafely(path); !reason.empty())
        throw std::runtime_error(reason);
    const auto flash = ReadFlash(ctx, progress, mode);
    if (!flash) return FlashReadOutcome::Cancelled;
    if (std::string reason = util::WriteFileSafely(path, *flash); !reason.empty()) throw std::runtime_error(reason);
    return FlashReadOutcome::Written;
}

std::vector<std::uint8_t> FlashFileImage(const std::vector<std::uint8_t>& fileBytes) {
    std::vector<std::uint8_t> image(kFlashFileImage, 0);
    std::copy_n(fileBytes.begin(), std::min(fileBytes.size(), image.size()), image.begin());
    return image;
}

bool WriteFlash(const ToolContext& ctx, const std::string& flashFile,
                const std::function<void(std::size_t)>& progress) {
    // The image takes no more than its size of the file (a longer file, or a device that never
    // ends, is cut there).
    std::vector<std::uint8_t> fileBytes;
    if (util::ReadFileStart(flashFile, fileBytes, kFlashFileImage) != 0) {
        PortLoan loan(ctx, false);
        return false;
    }
    const std::vector<std::uint8_t> image = FlashFileImage(fileBytes);
    PortLoan loan(ctx, true);
    ctx.port.SetBaudRate(kBootBaud);
    ctx.sleep(kSettleMs);
    // Every pause below counts from the moment our bytes have left, not from the write.
    ctx.port.SendChar(kWriteFlashAnnounce);
    ctx.port.EnsureSent(kAnswerSlackMs);
    ctx.sleep(kSettleMs);
    for (int i = 0; i < kWriteFlashAnswerBytes; ++i) ctx.port.ReadByteNow();
    ctx.port.SendChar(kWriteFlashErase);
    ctx.port.EnsureSent(kAnswerSlackMs);
    ctx.sleep(kEraseWaitMs);
    ctx.port.SendChar(kWriteFlashGo);
    ctx.port.EnsureSent(kAnswerSlackMs);
    ctx.sleep(kSettleMs);
    for (std::size_t i = 0; i < image.size(); i += 2) {
        ctx.port.SendChar(image[i]);
        ctx.port.SendChar(image[i + 1]);
        ctx.sleep(1);
        if (progress && (i + 2) % 256 == 0) progress(i + 2);
    }
    // The rate goes back only once the image has left: a change earlier garbles its end.
    ctx.port.EnsureSent(kAnswerSlackMs);
    ctx.sleep(kSettleMs);
    return true;
}

void AddressCheck(const ToolContext& ctx, AddressCheckState& state,
                  const std::function<void(const std::string&)>& line,
                  const std::function<void(std::uint32_t)>& progress) {
    PortLoan loan(ctx, false);
    char text[64];
    // An answer holds when its probe's window (to the next probe) held its reply and nothing
    // else, and so did the next window, where a second answer to it would land; the last one
    // when the line stays quiet after it. Lines are written for answers that hold, in order.
    struct Probe {
        std::uint32_t address;
        int s, e;
        bool alone = false;  // its own window held nothing else
    };
    std::deque<Probe> open;
    int tries = 0;
    auto take = [&](const Probe& p) {
        if (p.s != state.lastStart) {
            std::snprintf(text, sizeof text, "Start Address 0x%6X = %d", p.address, p.s);
            line(text);
        }
        if (p.e != state.lastEnd) {
            std::snprintf(text, sizeof text, "End Address 0x%6X = %d", p.address, p.e);
            line(text);
        }
        state.lastStart = p.s;
        state.lastEnd = p.e;
        tries = 0;
        if ((p.address & 0xFF) == 0 && progress) progress(p.address);
    };
    auto failedAt = [&](std::uint32_t address) {
        std::snprintf(text, sizeof text, "Failed at 0x%6X", address);
        line(text);
    };
    const auto quietAfter = std::chrono::ceil<std::chrono::steady_clock::duration>(
        serial::QuietAfterReply(kProbeAnswerBytes, ctx.port.GetBaudRate()));
    std::uint32_t address = kAddressCheckFirst;
    for (;;) {
        if (ctx.cancelled()) return;
        const bool more = address <= kAddressCheckLast;
        if (!more && open.empty()) return;
        // Whatever waits now came after the last probe's answer, in its window.
        std::size_t stray = static_cast<std::size_t>(ctx.port.DiscardInput());
        if (!more) {
            const auto end = std::chrono::steady_clock::now() + quietAfter;
            while (ctx.port.ReadByteBefore(end) >= 0) ++stray;
        }
        if (!open.empty()) open.back().alone = stray == 0;
        if (!open.empty() && !open.back().alone) {
            // A second answer to one of the open probes, or a late one: ask from the first again.
            address = open.front().address;
            open.clear();
            if (++tries >= kProbeAttempts) {
                failedAt(address);
                return;
            }
            try {
                SettleLine(ctx, "");
            } catch (const serial::TSerErr&) {
                failedAt(address);
                return;
            }
            continue;
        }
        if (open.size() == 2) {
            take(open.front());
            open.pop_front();
        }
        if (!more) {
            take(open.front());
            return;
        }
        try {
            SendCommand(ctx.port, BootFrame(Boot::Write, AddressAndLength(address, kAddressProbeLength)));
            ctx.port.EnsureSent(kAnswerSlackMs);
            for (int expected : {int {Boot::Write}, 0x00, 0x5F})
                if (ctx.port.WaitByte(kDataTimeoutMs) != expected)
                    throw serial::TSerErr(serial::TSerErr::Open, "Forkert data modtaget");
            const int s = ctx.port.WaitByte(kDataTimeoutMs);
            const int e = ctx.port.WaitByte(kDataTimeoutMs);
            open.push_back({address, s, e});
            address += kAddressCheckStep;
        } catch (const serial::TSerErr&) {
            // A failure ends the check where it happened; the probe before had a quiet line
            // until this one went out.
            if (!open.empty()) take(open.front());
            failedAt(address);
            return;
        }
    }
}

void SendBootloader(serial::TSerCom& port, const std::string& booterFile, bool preload2, const Sleep& sleep) {
    const std::vector<std::uint8_t> buffer = LoadSecondStage(booterFile, kSendBootloaderBuffer);
    port.SendChar(0x00);
    port.EnsureSent(kAnswerSlackMs);
    sleep(kBootstrapWakeMs);
    const auto& loader = preload2 ? kLoader2C : kLoader100;
    SendBytes(port, loader.data(), loader.size());
    if (preload2) {
        SendBytes(port, buffer.data() + kSecondStage2CFirst, kSecondStage2CEnd - kSecondStage2CFirst);
    } else {
        SendBytes(port, buffer.data() + kSecondStage100First, kSecondStage100End - kSecondStage100First);
        SendWakes(port, kTrailingWakes);
    }
}

namespace {

// Reopens the port at the normal rate when the bootstrap is over, and resumes the thread.
class NcxLoan {
public:
    explicit NcxLoan(const ToolContext& ctx) : ctx_(ctx) {
        if (ctx_.thread) ctx_.thread->Pause();
    }
    ~NcxLoan() {
        try {
            ctx_.port.SetBaudRate(kNormalBaud);
            ctx_.port.Open();
        } catch (...) {
            // The receive thread sees the closed port and ends; the next port change starts anew.
        }
        if (ctx_.thread) ctx_.thread->Resume();
    }
    NcxLoan(const NcxLoan&) = delete;
    NcxLoan& operator=(const NcxLoan&) = delete;

private:
    const ToolContext& ctx_;
};

struct CheckFailed {
    const char* text;
};

// An answer byte: it must be in once what we sent has left.
int Answer(serial::TSerCom& port) { return port.ReadByteWithin(kAnswerSlackMs); }

void Expect(serial::TSerCom& port, std::initializer_list<int> bytes, const char* failure) {
    for (int b : bytes)
        if (Answer(port) != b) throw CheckFailed {failure};
}

}  // namespace

std::string LoadNcxBootloader(const ToolContext& ctx, const std::string& booterFile, const std::string& flashFile) {
    NcxLoan loan(ctx);
    // Both files are read before the bootstrap starts, so a bad file never leaves the module
    // half-way in its bootstrap loader.
    std::vector<std::uint8_t> booter;
    std::array<std::uint8_t, kFlashBlockSize> block {};
    try {
        booter = LoadSecondStage(booterFile, kNcxBootloaderBuffer);
    } catch (const std::system_error& e) {
        return CannotOpenText(booterFile, e.code().value());
    }
    try {
        block = PrepareFlashBlock(flashFile);
    } catch (const std::system_error& e) {
        return CannotOpenText(flashFile, e.code().value());
    }

    try {
        ctx.port.SendChar(0x00);
        ctx.port.EnsureSent(kAnswerSlackMs);
        ctx.sleep(kBootstrapWakeMs);
        SendBytes(ctx.port, kLoader100.data(), kLoader100.size());
        ctx.port.EnsureSent(kAnswerSlackMs);
        ctx.sleep(kAfterLoaderMs);
        SendBytes(ctx.port, booter.data() + kSecondStage100First, kSecondStage100End - kSecondStage100First);
        SendWakes(ctx.port, kTrailingWakes);
        ctx.port.EnsureSent(kAnswerSlackMs);

        int b = Answer(ctx.port);
        if (b == 0x00) b = Answer(ctx.port);
        if (b != 0xD5 || Answer(ctx.port) != 0x7A) throw CheckFailed {"Error sending to boot loader"};
        SendCommand(ctx.port, PingCommand());
        ctx.port.EnsureSent(kAnswerSlackMs);
        ctx.sleep(kAfterLoaderMs);
        Expect(ctx.port, {Boot::Ping, 0x00, 0x60}, "Error pinging bootloader");

        SendCommand(ctx.port, BootFrame(Boot::Write, AddressAndLength(kFlashBase, kFlashBlockData)));
        for (auto v : block) ctx.port.SendChar(v);
        ctx.port.EnsureSent(kAnswerSlackMs);
        ctx.sleep(kSettleMs);
        Expect(ctx.port, {Boot::Write, 0x00, 0x5F, Boot::Status, 0x01, 0x00, 0x5B, Boot::Status, 0x01, 0x00, 0x5B},
               "Error write bootloader");
        ctx.port.Close();
        ctx.port.Open();
    } catch (const CheckFailed& f) {
        return f.text;
    }
    return {};
}

}  // namespace vindelor::largemotor
