#include "largemotor/Download.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "firmware/HexFile.h"
#include "largemotor/BootCommands.h"
#include "serial/TSerErr.h"
#include "util/SafeFile.h"

namespace vindelor::largemotor {

namespace {

constexpr int kSettleMs = 100;

void SendWord(serial::TSerCom& port, std::uint32_t v) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                   static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    port.SendString(bytes, 4);
}

// The percentage of the whole transfer; a transfer of nothing is complete.
int Percent(std::uint64_t done, std::uint64_t total) {
    return total == 0 ? 100 : static_cast<int>(done * 100 / total);
}

// A failed FPGA start: its own box, then the phase's.
struct ConfDoneFailed {};
// A cancel seen between pieces: no more is sent, and no box is shown.
struct CancelSeen {};

}  // namespace

std::uint32_t ByteSum(const std::uint8_t* bytes, std::size_t count) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
    return sum;
}

void SinkNotifier::warning(const std::string& caption, const std::string& text) {
    protocol::Message m;
    m.number = protocol::MsgErrorBox;
    m.wParam = 1;
    m.text = text;
    if (caption != "Error")
        m.payload = {reinterpret_cast<const std::uint8_t*>(caption.data()), caption.size()};
    sink_.send(m);
}

void SinkNotifier::information(const std::string& caption, const std::string& text) {
    protocol::Message m;
    m.number = protocol::MsgErrorBox;
    m.wParam = 0;
    m.text = text;
    m.payload = {reinterpret_cast<const std::uint8_t*>(caption.data()), caption.size()};
    sink_.send(m);
}

DownloadResult DownloadFirmware(serial::TSerCom& port, protocol::MessageSink& window,
                                protocol::Notifier& boxes, bool loadFpga,
                                const DownloadFiles& files, const Sleep& sleep,
                                const std::atomic<bool>* cancel) {
    DownloadResult result;
    const auto box = [&](const char* text) { boxes.warning("Error", text); };
    const auto checkCancel = [&] {
        if (cancel && cancel->load()) throw CancelSeen{};
    };

    // Nothing escapes: the job runs on the receive thread, where an exception would end the
    // program.
    std::vector<std::uint8_t> firmwareBytes;
    std::unique_ptr<std::uint8_t[]> fpga;
    std::uint32_t g = 0;
    try {
        fpga = std::make_unique<std::uint8_t[]>(kFpgaImageSize);
        // A firmware that cannot be read, or an empty one, is not announced: the device would
        // confirm the zero sum of nothing and take the missing firmware as loaded. Its length
        // goes out first, so only a regular file, whose size is known, will do.
        const std::string firmwareFile = files.firmware ? files.firmware() : std::string();
        result.firmwareProblem =
            util::ReadRegularFile(firmwareFile, firmwareBytes, kMaxFirmwareBytes);
        if (result.firmwareProblem.empty() && firmwareBytes.empty())
            result.firmwareProblem = firmwareFile + " is empty";
        if (!result.firmwareProblem.empty()) {
            box("Error loading firmware file");
            result.outcome = DownloadResult::FirmwareUnreadable;
            return result;
        }
        if (loadFpga) {
            std::fill_n(fpga.get(), kFpgaImageSize, 0);
            try {
                g = static_cast<std::uint32_t>(firmware::LoadHexFile(files.fpga ? files.fpga() : std::string(),
                                                                     {fpga.get(), kFpgaImageSize}, 0));
            } catch (...) {
                box("Error loading altera file");
                result.outcome = DownloadResult::FpgaUnreadable;
                return result;
            }
        }
    } catch (...) {
        box("Error loading firmware file");
        result.outcome = DownloadResult::FirmwareUnreadable;
        return result;
    }

    const auto f = static_cast<std::uint32_t>(firmwareBytes.size());
    result.firmwareBytes = f;
    result.fpgaBytes = g;
    const std::uint64_t total = std::uint64_t {f} + g;

    // The step running, named when it fails (the boxes keep the device's old texts, which
    // call any failure of the FPGA phase a file error).
    const char* step = "sending the firmware";
    // Called in a handler: the step and what the exception being handled says.
    const auto noteFailure = [&] {
        if (!result.failedStep.empty()) return;
        result.failedStep = step;
        try {
            throw;
        } catch (const std::exception& e) {
            result.failedStep += std::string(": ") + e.what();
        } catch (...) {
        }
    };

    // Firmware phase.
    try {
        port.SetBaudRate(kBootBaud);
        SendWord(port, f);
        for (std::size_t sent = 0; sent < f;) {
            const std::size_t n = std::min(kDownloadPiece, f - sent);
            checkCancel();
            port.SendString(firmwareBytes.data() + sent, static_cast<int>(n));
            sent += n;
            window.post(protocol::MsgProgress, Percent(sent, total), 0);
        }
        // The sum comes back once the last byte has reached the device: its wait starts only
        // when our bytes have left.
        port.EnsureSent(kSettleMs);
        sleep(kSettleMs);
        step = "waiting for the device's firmware sum";
        std::uint32_t s = 0;
        for (int i = 0; i < 4; ++i) s |= static_cast<std::uint32_t>(port.ReadByteNow()) << (8 * i);
        result.sumReceived = true;
        result.deviceSum = s;
        result.ourSum = ByteSum(firmwareBytes.data(), firmwareBytes.size());
        std::vector<std::uint8_t>().swap(firmwareBytes);
        step = "sending the verdict on the sum";
        if (s == result.ourSum) {
            result.sumOk = true;
            port.SendChar(kSumGood);
        } else {
            box("Checksum error loading file");
            port.SendChar(kSumBad);
            result.failedStep = "the device's firmware sum differs from the file's";
        }
        result.firmwareSent = true;
    } catch (const CancelSeen&) {
        result.outcome = DownloadResult::Cancelled;
    } catch (...) {
        noteFailure();
        box("Error sending firmware file");
    }

    // FPGA phase.
    try {
        checkCancel();
        sleep(kSettleMs);
        step = "announcing the FPGA configuration";
        port.SendChar(kFpgaAnnounce);
        SendWord(port, g);
        port.EnsureSent(kSettleMs);
        if (g > 0) {
            step = "waiting for the FPGA's start answer";
            if (port.WaitByte(kDownloadAnswerMs) != 0) {
                box("Conf_done didn't go low");
                step = "the FPGA's start answer: Conf_done didn't go low";
                throw ConfDoneFailed {};
            }
            step = "sending the FPGA configuration";
            for (std::size_t sent = 0; sent < g;) {
                const std::size_t n = std::min<std::size_t>(kDownloadPiece, g - sent);
                checkCancel();
                port.SendString(fpga.get() + sent, static_cast<int>(n));
                sent += n;
                window.post(protocol::MsgProgress, Percent(f + sent, total), 0);
            }
            // The final answer comes once the whole image has reached the device.
            port.EnsureSent(kSettleMs);
        }
        window.post(protocol::MsgProgress, 100, 0);
        step = "waiting for the motor's final answer";
        port.WaitByte(kDownloadAnswerMs);
        window.post(protocol::MsgReceivedByte, protocol::kLoadedMarker, 0);
        result.fpgaOk = true;
    } catch (const CancelSeen&) {
        result.outcome = DownloadResult::Cancelled;
    } catch (...) {
        noteFailure();
        box("Error loading altera file");
    }

    try {
        sleep(kSettleMs);
        port.Close();
        port.SetBaudRate(kNormalBaud);
        port.Open();
    } catch (...) {
        // The receive thread finds the port closed and ends; the next port change starts anew.
        port.SetBaudRate(kNormalBaud);
    }
    return result;
}

}  // namespace vindelor::largemotor
