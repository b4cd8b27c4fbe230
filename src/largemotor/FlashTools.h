#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Messages.h"
#include "protocol/RecvThread.h"
#include "serial/TSerCom.h"

namespace vindelor::largemotor {

// How the tools pause: the real clock unless a caller passes its own.
using Sleep = std::function<void(int ms)>;
void RealSleep(int ms);

// What a tool that owns the port works with.
struct ToolContext {
    serial::TSerCom& port;
    // Paused while the tool owns the port and resumed afterwards, also after a failure; may be
    // null (the command line reads the port itself).
    protocol::RecvThread* thread = nullptr;
    // Receives the echo of the bytes checked by the read (MsgReceivedByte); may be null.
    protocol::MessageSink* echo = nullptr;
    Sleep sleep = RealSleep;
    // Checked between blocks by the tools that may stop early.
    const std::atomic<bool>* cancel = nullptr;

    bool cancelled() const { return cancel && cancel->load(); }
};

// Borrows the port from the receive thread for the life of the object. When restoreRate is
// set the port goes back to the normal rate first (after the tool's last pause); the thread
// is resumed in every case, so the tool never leaves the window deaf.
class PortLoan {
public:
    PortLoan(const ToolContext& ctx, bool restoreRate);
    ~PortLoan();
    PortLoan(const PortLoan&) = delete;
    PortLoan& operator=(const PortLoan&) = delete;

private:
    const ToolContext& ctx_;
    bool restoreRate_;
};

// "Read Flash": read commands of 1024 bytes from 0xC00000, each answered by the empty reply,
// the data and 4 more bytes; progress after each block with the bytes read so far. The data
// carry no check, so each block is read until two reads agree (Verified, about twice
// the line time), or once (Fast: a byte flipped on the line goes into the result unseen); a
// read is taken only on a quiet line with nothing after it, and a block is asked a few times
// before the read fails with a TSerErr naming it ("Flash block 0xC01400: No Data"). Returns
// the 0x20000 bytes, or nothing when cancelled between reads. Leaves the port at 19200 baud.
enum class FlashReadMode { Verified, Fast };
std::optional<std::vector<std::uint8_t>> ReadFlash(const ToolContext& ctx,
                                                   const std::function<void(std::uint32_t)>& progress = {},
                                                   FlashReadMode mode = FlashReadMode::Verified);

// "Read Flash" into a file (the tool's "flash.bin"): written through a temporary file only when
// every block has arrived, so a failure or a cancel leaves an older file as it was. Throws
// std::runtime_error with the reason when the file cannot be written.
enum class FlashReadOutcome { Written, Cancelled };
FlashReadOutcome ReadFlashToFile(const ToolContext& ctx, const std::string& path,
                                 const std::function<void(std::uint32_t)>& progress = {},
                                 FlashReadMode mode = FlashReadMode::Verified);
constexpr const char* kFlashReadFile = "flash.bin";

// "Write Flash": the flash file zero-padded (or cut) to 4096 bytes, sent at 57600 baud after
// 'D' (four answer bytes), 'F', 11 s and 'G', as 2048 pairs with a 1 ms pause after each.
// False, with nothing sent, when the file cannot be read. Port failures throw TSerErr.
constexpr std::size_t kFlashFileImage = 4096;
constexpr int kEraseWaitMs = 11000;
// Progress: the image bytes sent so far, after every 256.
bool WriteFlash(const ToolContext& ctx, const std::string& flashFile,
                const std::function<void(std::size_t)>& progress = {});
// The image WriteFlash sends for a file's bytes.
std::vector<std::uint8_t> FlashFileImage(const std::vector<std::uint8_t>& fileBytes);

// "Address check": write announcements of 258 bytes from 0xBFF000 in steps of 8 up to
// 0xC20FFF; each answer carries a start and an end value, and a line is written whenever one
// of them differs from the last seen (kept in the state between runs). A failure writes
// "Failed at 0x..." and ends the run; so does a cancel, without a line.
constexpr std::uint32_t kAddressCheckFirst = 0xBFF000;
constexpr std::uint32_t kAddressCheckLast = 0xC20FFF;
constexpr std::uint32_t kAddressCheckStep = 8;
struct AddressCheckState {
    int lastStart = -1;
    int lastEnd = -1;
};
void AddressCheck(const ToolContext& ctx, AddressCheckState& state,
                  const std::function<void(const std::string&)>& line,
                  const std::function<void(std::uint32_t)>& progress = {});

// "Send Bootloader": 0x00, 400 ms, the first-stage loader (0x2C when preload2), and the
// second stage from the hex file: bytes 0x2C..0x7FF, or 0x100..0x4FF and 0xFF 0x7C a hundred
// times. The file is loaded before anything is sent; its errors pass through.
void SendBootloader(serial::TSerCom& port, const std::string& booterFile, bool preload2,
                    const Sleep& sleep = RealSleep);

// "Load NCx Bootloader": the XC164 bootstrap with loader 0x100 and the RAM bootloader, its
// identification (D5 7A, maybe after 0x00), a ping, and the flash bootloader block written to
// 0xC00000 with its two good status frames; then the port is reopened at 19200. Returns ""
// on success, else the text for "Error writing bootloader\n" (a failed check, or a hex file
// that cannot be opened). Port errors and rejected hex content throw. The receive thread is
// resumed in every case.
std::string LoadNcxBootloader(const ToolContext& ctx, const std::string& booterFile,
                              const std::string& flashFile);

// The text of a file that cannot be opened.
std::string CannotOpenText(const std::string& file, int error);

}  // namespace vindelor::largemotor
