// The large motor's flash bootloader, the XC164 bootstrap and the boot-mode download from the
// command line.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include "cli/Cli.h"
#include "cli/Session.h"
#include "firmware/HexFile.h"
#include "largemotor/BootCommands.h"
#include "largemotor/Download.h"
#include "largemotor/FlashTools.h"
#include "protocol/RecvThread.h"
#include "serial/TSerErr.h"

namespace vindelor::cli {

namespace {

using namespace vindelor::largemotor;

// Ctrl-C stops "flash-read" and "address-check" between blocks.
std::atomic<bool> g_cancel {false};
void OnInterrupt(int) { g_cancel = true; }

struct InterruptStops {
    InterruptStops() {
        g_cancel = false;
        previous = std::signal(SIGINT, OnInterrupt);
    }
    ~InterruptStops() { std::signal(SIGINT, previous); }
    void (*previous)(int);
};

std::unique_ptr<serial::TSerCom> OpenPort(const GlobalOptions& o) {
    auto port = MakePort(o.port, o.baud);
    OpenOrThrow(*port);
    return port;
}

// The one progress line on stderr, rewritten in place. It is ended before anything else is
// written, an error included (the line ends when the object goes, on every way out). The
// download shows its boxes from the receive thread, hence the lock.
class ProgressLine {
  public:
    ProgressLine() = default;
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine() { end(); }
    void show(const std::string& text) {
        std::lock_guard lock(mutex_);
        std::cerr << "\r" << text << std::flush;
        shown_ = true;
    }
    void end() {
        std::lock_guard lock(mutex_);
        if (shown_) std::cerr << std::endl;
        shown_ = false;
    }

  private:
    std::mutex mutex_;
    bool shown_ = false;
};

// Runs a tool; a port failure or an unexpected answer is a device failure.
template <class F>
void DeviceStep(F&& f) {
    try {
        f();
    } catch (const serial::TSerErr& e) {
        throw CommandError {kExitDevice, e.Text};
    }
}

// A hex file the loader refuses, with the loader's own words.
template <class F>
void HexStep(const std::string& what, F&& f) {
    try {
        f();
    } catch (const firmware::HexFormatError& e) {
        throw CommandError {kExitDevice, what + ": " + e.what()};
    } catch (const std::system_error& e) {
        throw CommandError {kExitDevice, e.what()};
    }
}

void FlashReadCommand(CommandContext& ctx, const std::string& output, bool fast) {
    auto port = OpenPort(ctx.options);
    InterruptStops interrupt;
    ToolContext tool {*port};
    tool.cancel = &g_cancel;
    FlashReadOutcome outcome {};
    ProgressLine line;
    try {
        DeviceStep([&] {
            outcome = ReadFlashToFile(
                tool, output, [&line](std::uint32_t n) { line.show("KBytes read: " + ReadCountText(n)); },
                fast ? FlashReadMode::Fast : FlashReadMode::Verified);
        });
    } catch (const std::runtime_error& e) {
        throw CommandError{kExitDevice, e.what()};
    }
    line.end();
    if (outcome == FlashReadOutcome::Cancelled) throw CommandError {kExitDevice, "cancelled; no file written"};
    std::cout << output << ": " << kFlashSize << " bytes from 0x" << std::hex << kFlashBase << std::dec << "\n";
    ctx.status = kExitOk;
}

void FlashWriteCommand(CommandContext& ctx, const std::string& file) {
    auto port = OpenPort(ctx.options);
    ToolContext tool {*port};
    bool read = false;
    std::cerr << "erasing (11 s), then writing " << kFlashFileImage << " bytes" << std::endl;
    ProgressLine line;
    DeviceStep([&] {
        read = WriteFlash(tool, file, [&line](std::size_t n) {
            line.show("sent " + std::to_string(n) + " of " + std::to_string(kFlashFileImage));
        });
    });
    if (!read) throw CommandError {kExitDevice, "Error loading flash file: " + file};
    line.end();
    ctx.status = kExitOk;
}

// "Set 57600 Baud": the bootloader switches; the next command talks to it with --baud 57600.
void FlashBaudCommand(CommandContext& ctx) {
    auto port = OpenPort(ctx.options);
    DeviceStep([&] {
        const auto frame = SetBaudCommand(kBaudIndex57600);
        port->SendString(frame.data(), static_cast<int>(frame.size()));
        // The port closes when the command ends: the frame must be out first.
        port->EnsureSent(kSetBaudSettleMs);
        RealSleep(kSetBaudSettleMs);
    });
    std::cerr << "the bootloader now listens at " << kBootBaud << " baud: give --baud " << kBootBaud
              << " to the next command (flash-write switches by itself)" << std::endl;
    ctx.status = kExitOk;
}

void FlashEraseCommand(CommandContext& ctx, int sector) {
    if (sector < 0 || sector > kEraseSectorMax)
        throw CommandError {kExitUsage, "sector out of range (0 to 15): " + std::to_string(sector)};
    auto port = OpenPort(ctx.options);
    constexpr int kEraseAnswerMs = 2000;
    DeviceStep([&] {
        const auto frame = EraseSectorCommand(sector);
        SendBootCommand(*port, Boot::Erase, frame.data() + 2, 1);
        std::cerr << "erasing sector " << sector << std::endl;
        for (int expected : {int {Boot::Erase}, 0x00, 0x5E})
            if (port->WaitByte(kEraseAnswerMs) != expected)
                throw serial::TSerErr(serial::TSerErr::Open, "Forkert data modtaget");
        // The status frame that follows, when the bootloader sends one.
        if (port->ReadByteWithin(kEraseAnswerMs) == Boot::Status && port->WaitByte(kEraseAnswerMs) == 1) {
            const int status = port->WaitByte(kEraseAnswerMs);
            port->WaitByte(kEraseAnswerMs);
            if (status != 0) throw serial::TSerErr(serial::TSerErr::Open, ("erase status " + std::to_string(status)).c_str());
        }
    });
    std::cout << "sector " << sector << " erased\n";
    ctx.status = kExitOk;
}

void AddressCheckCommand(CommandContext& ctx) {
    auto port = OpenPort(ctx.options);
    InterruptStops interrupt;
    ToolContext tool {*port};
    tool.cancel = &g_cancel;
    AddressCheckState state;
    bool failed = false;
    ProgressLine progress;
    DeviceStep([&] {
        AddressCheck(
            tool, state,
            [&](const std::string& line) {
                progress.end();
                std::cout << line << std::endl;
                if (line.starts_with("Failed")) failed = true;
            },
            [&progress](std::uint32_t address) { progress.show(AddressText(address)); });
    });
    progress.end();
    if (failed) throw CommandError {kExitDevice, "the address check failed"};
    if (g_cancel) throw CommandError {kExitDevice, "cancelled"};
    ctx.status = kExitOk;
}

void BootloaderSendCommand(CommandContext& ctx, const std::string& loadAddress, const std::string& booter) {
    const long long address = ParseNumber(loadAddress, "--load-address");
    if (address != 0x2C && address != 0x100) throw CommandError {kExitUsage, "--load-address is 0x2C or 0x100"};
    auto port = OpenPort(ctx.options);
    HexStep(booter, [&] {
        DeviceStep([&] { SendBootloader(*port, booter, address == 0x2C); });
    });
    std::cerr << "sent 1 + 32 + " << (address == 0x2C ? "2004" : "1024 + 200") << " bytes" << std::endl;
    ctx.status = kExitOk;
}

void BootloaderLoadCommand(CommandContext& ctx, const std::string& booter, const std::string& flash) {
    auto port = OpenPort(ctx.options);
    ToolContext tool {*port};
    std::string failure;
    std::cerr << "loading the RAM bootloader and writing the flash bootloader" << std::endl;
    HexStep(booter + ", " + flash, [&] { DeviceStep([&] { failure = LoadNcxBootloader(tool, booter, flash); }); });
    if (!failure.empty()) throw CommandError {kExitDevice, "Error writing bootloader\n" + failure};
    std::cout << "bootloader written\n";
    ctx.status = kExitOk;
}

// The boxes of the download, on stderr, each on a line of its own.
struct StderrBoxes : protocol::Notifier {
    explicit StderrBoxes(ProgressLine& progress) : progress_(progress) {}
    void warning(const std::string& caption, const std::string& text) override {
        progress_.end();
        std::cerr << caption << ": " << text << std::endl;
    }
    void information(const std::string& caption, const std::string& text) override { warning(caption, text); }

  private:
    ProgressLine& progress_;
};

struct DownloadArgs {
    std::string firmware;
    std::string fpga;
    double timeoutSeconds = 60;
};

void DownloadCommand(CommandContext& ctx, const DownloadArgs& a) {
    auto port = OpenPort(ctx.options);
    CliSink sink(ctx.options.echo);
    ProgressLine progress;
    StderrBoxes boxes(progress);
    std::atomic<bool> done {false};
    DownloadResult result;
    const bool loadFpga = !a.fpga.empty();
    const DownloadFiles files {[&] { return a.firmware; }, [&] { return a.fpga; }};
    protocol::RecvThread thread(port.get(), &sink, [&](serial::TSerCom& p, protocol::MessageSink& window, bool fpga) {
        result = DownloadFirmware(p, window, boxes, fpga, files);
        done = true;
        sink.post(protocol::MsgProgress, -1, 0);  // wakes the wait below
    });
    thread.LoadFpga = loadFpga;
    std::cerr << "waiting for the motor's request" << std::endl;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(a.timeoutSeconds);
    bool started = false;
    while (!done) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        // Once the download runs it ends by itself (every wait in it is bounded).
        const auto wait = started ? std::chrono::milliseconds(1000) : left;
        if (!started && wait.count() <= 0) break;
        if (auto m = sink.take(protocol::MsgProgress, wait); m && m->wParam >= 0) {
            started = true;
            progress.show("progress " + std::to_string(m->wParam) + "%");
        }
    }
    thread.Stop();
    progress.end();
    if (!done) throw CommandError {kExitDevice, "no download request from the motor"};
    if (result.outcome == DownloadResult::FirmwareUnreadable)
        throw CommandError{kExitDevice, "Error loading firmware file: " + result.firmwareProblem};
    if (result.outcome == DownloadResult::FpgaUnreadable)
        throw CommandError {kExitDevice, "Error loading altera file: " + a.fpga};
    char line[160];
    if (result.sumReceived)
        std::snprintf(line, sizeof line, "firmware: %u bytes, sum 0x%08X, device 0x%08X: %s\n",
                      result.firmwareBytes, result.ourSum, result.deviceSum,
                      result.sumOk ? "match" : "MISMATCH");
    else
        std::snprintf(line, sizeof line, "firmware: %u bytes: the device's sum was not received\n",
                      result.firmwareBytes);
    std::cout << line;
    if (loadFpga)
        std::cout << "fpga: " << result.fpgaBytes << " bytes: " << (result.fpgaOk ? "loaded" : "FAILED") << "\n";
    else
        std::cout << "fpga: none" << (result.fpgaOk ? "" : ", no final answer") << "\n";
    std::cout << std::flush;
    if (!result.success())
        throw CommandError {kExitDevice, "the download failed: " + result.failedStep};
    ctx.status = kExitOk;
}

}  // namespace

void AddLargeMotorCommands(CLI::App& app, CommandContext& ctx) {
    auto* read = app.add_subcommand("flash-read", "Read the large motor's 128 KiB of flash from 0xC00000 (its "
                                                  "bootloader must be running)");
    auto output = std::make_shared<std::string>(kFlashReadFile);
    read->add_option("-o,--output", *output, "File to write (replaced only when every block arrived)")
        ->capture_default_str();
    auto fast = std::make_shared<bool>(false);
    read->add_flag("--fast", *fast,
                   "Read each block once, not until two reads agree: half the time, but a byte "
                   "garbled on the line goes into the file unseen");
    read->callback([&ctx, output, fast] { FlashReadCommand(ctx, *output, *fast); });

    auto* write = app.add_subcommand("flash-write", "Write a flash file of up to 4096 bytes at 57600 baud ('D', 'F', "
                                                    "'G')");
    auto file = std::make_shared<std::string>();
    write->add_option("FILE", *file, "Raw flash file")->required();
    write->callback([&ctx, file] { FlashWriteCommand(ctx, *file); });

    auto* baud =
        app.add_subcommand("flash-baud",
                           "\"Set 57600 Baud\": tell the bootloader to switch to 57600 baud "
                           "(the commands that follow take --baud 57600)");
    baud->callback([&ctx] { FlashBaudCommand(ctx); });

    auto* erase = app.add_subcommand("flash-erase", "Erase one flash sector through the bootloader");
    auto sector = std::make_shared<int>(0);
    erase->add_option("N", *sector, "Sector 0 to 15")->required();
    erase->callback([&ctx, sector] { FlashEraseCommand(ctx, *sector); });

    auto* check = app.add_subcommand("address-check", "Probe the bootloader's address check from 0xBFF000 to "
                                                      "0xC20FFF");
    check->callback([&ctx] { AddressCheckCommand(ctx); });

    auto* boot = app.add_subcommand("bootloader", "The XC164 bootstrap loader");
    boot->require_subcommand(1);
    auto* send = boot->add_subcommand("send", "Send the first-stage loader and a RAM bootloader");
    auto loadAddress = std::make_shared<std::string>("0x2C");
    auto booter = std::make_shared<std::string>();
    send->add_option("--load-address", *loadAddress, "0x2C (2004 bytes) or 0x100 (1024 bytes)")->capture_default_str();
    send->add_option("BOOTER", *booter, "RAM bootloader (Intel HEX)")->required();
    send->callback([&ctx, loadAddress, booter] { BootloaderSendCommand(ctx, *loadAddress, *booter); });
    auto* load = boot->add_subcommand("load", "Load the RAM bootloader and write the flash bootloader to 0xC00000");
    auto flash = std::make_shared<std::string>();
    auto loadBooter = std::make_shared<std::string>();
    load->add_option("BOOTER", *loadBooter, "RAM bootloader (Intel HEX)")->required();
    load->add_option("FLASH", *flash, "Flash bootloader (Intel HEX, 2048 bytes)")->required();
    load->callback([&ctx, loadBooter, flash] { BootloaderLoadCommand(ctx, *loadBooter, *flash); });

    auto* download = app.add_subcommand("download", "Wait for a large motor in boot mode to ask, then send it the "
                                                    "firmware and the FPGA configuration");
    auto args = std::make_shared<DownloadArgs>();
    download->add_option("--firmware", args->firmware, "Raw firmware file")->required();
    download->add_option("--fpga", args->fpga, "FPGA configuration (Intel HEX); without it none is sent");
    download->add_option("--timeout", args->timeoutSeconds, "Seconds to wait for the request")->capture_default_str();
    download->callback([&ctx, args] { DownloadCommand(ctx, *args); });
}

}  // namespace vindelor::cli
