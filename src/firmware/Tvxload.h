#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "firmware/FirmwareImage.h"
#include "protocol/Messages.h"
#include "serial/TSerCom.h"
#include "util/WorkerThread.h"

namespace vindelor::firmware {

// Status codes of the loader, the first argument of MsgLoaderState.
enum LoaderStatus : int {
    kStatusStarting = 0,
    kStatusResetting = 1,
    kStatusConnecting = 2,
    kStatusConnected = 3,
    kStatusGotSetup = 4,
    kStatusErasing = 5,
    kStatusTransfering = 6,     // second argument: percent of the flash records
    kStatusTransferOk = 7,
    kStatusDone = 8,
    kStatusFailed = 9,          // second argument: the loader mode
    kStatusAborted = 10,
    kStatusTransferingEpp = 11, // second argument: percent of the EPP records
    kStatusErasePercent = 12,   // second argument: percent of the erase wait
    kStatusTesting = 13,
};
inline constexpr int kLoaderStatusCount = 14;

// The status texts, printf formats where the status carries a percentage.
extern const char* const kLoaderStatusTexts[kLoaderStatusCount];
// The text of a status with its argument filled in; empty for an unknown code.
std::string LoaderStatusText(int code, std::int64_t argument);
// True for the statuses whose second argument is a percentage.
bool LoaderStatusHasPercent(int code);

// Updates a module's firmware through its bootloader: wakes the bootloader (asking the running
// firmware to reset into it, then sending the wake pattern until the ready byte comes),
// identifies the hardware, tests the line (mode 0), erases the blocks the image names, writes
// the flash and EPP records and ends with the final command. A failed step is retried after a
// new wake-up, up to kMaxAttempts attempts; records already sent stay sent.
//
// The image is read on the owner's thread (ReadImage) before Start(); the loader then owns the
// borrowed port until the run ends. Status goes to the window as MsgLoaderState posts; once per
// attempt MsgLoaderInfo is sent with the device's version and a copy of the description.
// After a run the thread parks; Start() runs again with the records that are left.
class TVxLoad : public FirmwareImage, public util::WorkerThread {
public:
    static constexpr int kMaxAttempts = 10;
    static constexpr int kCommandBase = 0xA0;
    static constexpr std::uint32_t kRegisterBaud = 19200;   // the running firmware's rate
    static constexpr std::uint32_t kFastBaud = 57600;
    static constexpr int kFastBaudIndex = 4;
    static constexpr int kWakePatternSize = 2048;
    static constexpr int kFillerSize = 4096;
    static constexpr int kLineTestSize = 4098;
    static constexpr int kReplyPauseMs = 50;
    static constexpr int kResetGapMs = 20;
    static constexpr int kResetSettleMs = 1;
    static constexpr int kEraseLimitMs = 10000;
    static constexpr int kEraseScaleMs = 19000;
    // Bootloader commands.
    enum Command : int {
        kPing = 0,
        kAnnounce = 1,
        kErase = 2,
        kStatus = 4,
        kEnd = 7,
        kIdentify = 8,
        kAnnounceEpp = 10,
        kSetBaud = 11,
    };
    static constexpr std::array<std::uint32_t, 9> kBaudTable = {2400,   9600,   19200,  38400, 57600,
                                                                 115200, 230400, 460800, 921600};

    // What the identify reply says.
    struct Identity {
        std::uint16_t version = 0;
        std::int8_t revision = 0;
        std::uint8_t hardware = 0;
    };

    // Created parked: nothing is sent before Start(). With a port, the port is set to 57600 baud
    // and opened again (a failure there is left to the first attempt).
    TVxLoad(protocol::MessageSink* window, serial::TSerCom* port);
    // Ends the thread (a run in progress stops after its current exchange) and closes the port;
    // the port object stays its owner's.
    ~TVxLoad() override;

    // Clears stop connecting and lets the thread run.
    void Start();
    // Blocks until the current run has ended (the thread parked or ended); true when parked.
    bool WaitForRunEnd() { return WaitUntilSuspended(); }

    // Takes the loader mode of a header record: baud rate, wake and ready bytes and reset
    // command, and the baud rate applied to the port at once. Throws TErr for a mode above 3.
    void SetLoaderMode(int mode) override;

    // One bootloader command frame: 0xA0 + c, n, the data, a checksum making the sum 0.
    void SendCommand(int c, const std::uint8_t* data = nullptr, int n = 0);
    // Reads the reply to command c, each byte within timeoutMs; copies its data to buffer (if
    // given, room for 15 bytes), pauses 50 ms and returns the first data byte (0 if none).
    int ReadReply(int c, std::uint32_t timeoutMs, std::uint8_t* buffer = nullptr);
    // Switches bootloader and port to kBaudTable[index] and pings; nothing for index above 8.
    void SetBaudRateIndex(int index);

    // The fixed block of the line test: its last two bytes are not the CRC of the others.
    static std::span<const std::uint8_t, kLineTestSize> LineTestBlock();

    // The texts of the failed attempts of the current run.
    std::vector<std::string> ErrorLog() const;
    // Called on the loader thread with the text of each failed attempt as it happens.
    void SetAttemptFailedHook(std::function<void(const std::string&)> hook) {
        attemptFailed_ = std::move(hook);
    }

    std::atomic<bool> StopConnecting {false};
    std::atomic<bool> ResetWanted {false};
    std::uint32_t BaudRate = kFastBaud;
    std::uint8_t WakeByte = 0;
    std::uint8_t ReadyByte = 0;
    std::uint8_t ResetCommand = 0;
    std::atomic<int> Attempts {0};

protected:
    void Execute() override;
    void WakeForTerminate() override;

private:
    enum class Step { Identify, LineTest, Erase, Flash, Epp, Finish, Finished };

    void Post(int code, std::int64_t argument = 0);
    void Fail(const std::string& text);
    // Waits until everything written has gone out on the line; throws the port's send error
    // when it does not.
    void AwaitGoneOut();
    void Ping();
    Identity Identify();
    void WakeUp();
    bool TryConnect(bool withFiller);
    void SendResetRequest();
    void SendWakePattern(int times);
    bool AwaitReadyByte(int patterns);
    void DoStep();
    void CheckIdentity();
    void LineTest();
    void EraseRecords();
    void FlashRecords();
    void EppRecords();
    void SendFlashRecord(ImageRecord& record);
    void AwaitBlockStatus(const char* transferText, const char* writeText);
    bool FastModes() const { return LoaderMode == 2 || LoaderMode == 3; }

    protocol::MessageSink* window_;
    serial::TSerCom* port_;
    Step step_ = Step::Identify;
    std::vector<std::uint8_t> wakePattern_;
    mutable std::mutex logMutex_;
    std::vector<std::string> errorLog_;
    std::function<void(const std::string&)> attemptFailed_;
};

}  // namespace vindelor::firmware
