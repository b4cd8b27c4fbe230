#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "largemotor/FlashTools.h"
#include "protocol/Messages.h"
#include "protocol/Notifier.h"
#include "serial/TSerCom.h"

namespace vindelor::largemotor {

constexpr std::size_t kFpgaImageSize = 0x80000;
constexpr std::size_t kDownloadPiece = 1024;
constexpr std::uint8_t kSumGood = 0x33;
constexpr std::uint8_t kSumBad = 0x00;
constexpr std::uint8_t kFpgaAnnounce = 0x55;
constexpr int kDownloadAnswerMs = 100;

// Where the download finds its files: read when they are needed (the firmware name at the
// start, the FPGA name just before it is loaded).
struct DownloadFiles {
    std::function<std::string()> firmware;
    std::function<std::string()> fpga;
};

// What happened, for callers that report it (the command line).
struct DownloadResult {
    enum Outcome {
        Done,                // both phases ran to their end; see sumOk and fpgaOk
        FirmwareUnreadable,  // nothing was sent (also an empty file, or no regular file)
        FpgaUnreadable,      // nothing was sent
        Cancelled,           // stopped between pieces; the port is back at 19200
    } outcome = Done;
    std::string firmwareProblem;  // why the firmware was refused
    std::string failedStep;       // the first step that failed once sending began, and why
    bool firmwareSent = false;  // the firmware phase ran without a port failure
    bool sumReceived = false;   // all 4 bytes of the device's sum came in
    bool sumOk = false;         // the device's sum matched ours
    bool fpgaOk = false;        // the FPGA phase ran to its end
    std::uint32_t firmwareBytes = 0;
    std::uint32_t fpgaBytes = 0;
    std::uint32_t ourSum = 0;
    std::uint32_t deviceSum = 0;
    bool success() const { return outcome == Done && firmwareSent && sumOk && fpgaOk; }
};

// The 32-bit sum of the bytes, each taken as 0..255.
std::uint32_t ByteSum(const std::uint8_t* bytes, std::size_t count);

// The download a large motor asks for in its boot mode with "fff": runs on the receive thread
// (or the command line's) to its end. Sends the firmware file at 57600 baud and settles its
// sum with the device, then, when loadFpga is set, the FPGA image from the Intel HEX file.
// Progress goes to window as MsgProgress, the end as MsgReceivedByte(kLoadedMarker); every
// failure is shown through boxes (caption "Error") and nothing is thrown. A firmware file that
// cannot be read, is empty or is no regular file (its size is announced first), or an FPGA file
// that cannot be loaded, ends the job before anything is sent; otherwise the port is left
// reopened at 19200 baud. A set cancel ends the job between pieces, without a box.
DownloadResult DownloadFirmware(serial::TSerCom& port, protocol::MessageSink& window,
                                protocol::Notifier& boxes, bool loadFpga,
                                const DownloadFiles& files, const Sleep& sleep = RealSleep,
                                const std::atomic<bool>* cancel = nullptr);
// The largest firmware the 32-bit length can announce.
constexpr std::size_t kMaxFirmwareBytes = 0xFFFFFFFFu;

// A notifier whose boxes are sent to the window thread as MsgErrorBox messages; the caller
// waits until the window has closed the box.
class SinkNotifier : public protocol::Notifier {
public:
    explicit SinkNotifier(protocol::MessageSink& sink) : sink_(sink) {}
    void warning(const std::string& caption, const std::string& text) override;
    void information(const std::string& caption, const std::string& text) override;

private:
    protocol::MessageSink& sink_;
};

}  // namespace vindelor::largemotor
