#include "firmware/Tvxload.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "firmware/Atmega162fix.h"
#include "firmware/Crc.h"
#include "firmware/RecordLimits.h"
#include "firmware/TErr.h"
#include "serial/LineTime.h"
#include "util/Text.h"

namespace vindelor::firmware {

namespace {

using Clock = std::chrono::steady_clock;
using serial::TSerErr;

constexpr std::uint32_t kPingTimeoutMs = 2000;
constexpr std::uint32_t kAnnounceTimeoutMs = 1000;
constexpr std::uint32_t kEraseTimeoutMs = 2000;
constexpr std::uint32_t kIdentifyTimeoutMs = 2000;
constexpr std::uint32_t kSetBaudTimeoutMs = 1000;
constexpr std::uint32_t kTransferStatusMs = 2000;
constexpr std::uint32_t kWriteStatusMs = 1000;
constexpr std::uint32_t kEraseStatusMs = 2000;
constexpr std::uint32_t kMode3EraseStatusMs = 500;
constexpr int kFastModeSwitchLimit = 3;  // failed attempts after which modes 2 and 3 stay slow
constexpr int kMode0ResetPatterns = 7;
// How much longer than its line time the output may take to go out before the port counts as
// stuck.
constexpr std::uint32_t kGoneOutSlackMs = 1000;
constexpr char kPortTimeoutText[] = "No Data";
constexpr char kTwoIdentifyAnswersText[] = "Two answers to identify: is another module on the line?";
constexpr char kIdentifyDiffersText[] = "The identify answers differ: is another module on the line?";
constexpr std::uint8_t kFillerByte = 0xFF;
constexpr std::uint8_t kPatternFill = 0xFF;
constexpr std::uint8_t kResetDestination = 0xFF;
constexpr std::uint8_t kFrameTrailer = 0xAA;

// The line-test block: a fixed table of pseudo-random bytes (xorshift32 from a fixed seed),
// built at compile time. A unit test checks that its last two bytes are not the CRC-16 of the
// first 4096, so the bootloader takes the block in but never writes it.
constexpr std::array<std::uint8_t, TVxLoad::kLineTestSize> MakeLineTestBlock() {
    std::array<std::uint8_t, TVxLoad::kLineTestSize> block {};
    std::uint32_t x = 0x2F6E2B1Du;
    for (auto& b : block) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return block;
}
constexpr auto kLineTestBlock = MakeLineTestBlock();

struct ModeSetting {
    std::uint32_t baud;
    std::uint8_t wake;
    std::uint8_t ready;
};
constexpr ModeSetting kModes[4] = {
    {57600, 0x4C, 0x5A},
    {38400, 0x5C, 0x4A},
    {19200, 0x6C, 0x6A},
    {19200, 0x7C, 0x7A},
};

std::uint8_t ResetCommandFor(int mode, std::uint32_t hardware) {
    switch (mode) {
    case 0: return 0x56;
    case 1: return hardware == 1 ? 0x33 : hardware == 2 ? 0x42 : hardware == 4 ? 0x60 : 0;
    case 2: return 0x57;
    case 3: return hardware == 3 ? 0x21 : hardware == 5 ? 0x71 : hardware == 6 ? 0x81 : 0;
    default: return 0;
    }
}

std::uint8_t Byte(std::uint32_t v, int shift) { return static_cast<std::uint8_t>((v >> shift) & 0xFFu); }

bool IsPortTimeout(const TSerErr& e) { return std::strcmp(e.Text, kPortTimeoutText) == 0; }

}  // namespace

const char* const kLoaderStatusTexts[kLoaderStatusCount] = {
    "Starting",
    "Please wait - resetting motor",
    "Connecting - Please turn off/on the motor",
    "Connected",
    "Got setup",
    "Erasing",
    "Transfering (%d%%)",
    "Transfer OK",
    "Done",
    "Failed!",
    "Aborted!",
    "Transfering EPP (%d%%)",
    "Erasing (%d%%)",
    "Testing communication",
};

bool LoaderStatusHasPercent(int code) {
    return code == kStatusTransfering || code == kStatusTransferingEpp || code == kStatusErasePercent;
}

std::string LoaderStatusText(int code, std::int64_t argument) {
    if (code < 0 || code >= kLoaderStatusCount) return {};
    if (!LoaderStatusHasPercent(code)) return kLoaderStatusTexts[code];
    return util::Format(kLoaderStatusTexts[code], static_cast<int>(argument));
}

TVxLoad::TVxLoad(protocol::MessageSink* window, serial::TSerCom* port)
    : window_(window), port_(port) {
    BuildCrc32Table();
    if (port_) {
        try {
            port_->SetBaudRate(static_cast<int>(kFastBaud));
            port_->Open();
        } catch (const TSerErr&) {
            // The first attempt meets the same port and reports it.
        }
    }
    WorkerThread::Start();
    // Parked before anyone can call Start(), so its resume is never lost.
    WaitUntilSuspended();
}

TVxLoad::~TVxLoad() {
    Stop();
    if (port_) port_->Close();
}

void TVxLoad::Start() {
    StopConnecting = false;
    Resume();
}

void TVxLoad::WakeForTerminate() {
    if (port_) port_->WakeReader();
}

void TVxLoad::SetLoaderMode(int mode) {
    if (mode < 0 || mode > 3) throw TErr(0, util::Format("Unknown loader mode %d", mode).c_str());
    LoaderMode = mode;
    const ModeSetting& m = kModes[mode];
    BaudRate = m.baud;
    WakeByte = m.wake;
    ReadyByte = m.ready;
    ResetCommand = ResetCommandFor(mode, HardwareCode);
    if (port_) port_->SetBaudRate(static_cast<int>(BaudRate));
}

std::span<const std::uint8_t, TVxLoad::kLineTestSize> TVxLoad::LineTestBlock() {
    return kLineTestBlock;
}

std::vector<std::string> TVxLoad::ErrorLog() const {
    std::lock_guard lock(logMutex_);
    return errorLog_;
}

void TVxLoad::Post(int code, std::int64_t argument) {
    if (window_) window_->post(protocol::MsgLoaderState, code, argument);
}

void TVxLoad::Fail(const std::string& text) {
    // Cut to what the error record holds, whatever the port's text added to it.
    const std::string line = TErr(0, text.c_str()).Text;
    {
        std::lock_guard lock(logMutex_);
        errorLog_.push_back(line);
    }
    // A failure that ends the run at once (the line test, the hardware check) has set the
    // count to the limit already; it is not one more attempt.
    if (Attempts < kMaxAttempts) ++Attempts;
    if (attemptFailed_) attemptFailed_(line);
}

void TVxLoad::AwaitGoneOut() { port_->EnsureSent(kGoneOutSlackMs); }

void TVxLoad::SendCommand(int c, const std::uint8_t* data, int n) {
    // A reply is only ever taken for the command just sent: whatever arrived before it (a reply
    // that missed its time-out, the end of an erase given up on) is dropped, once what was
    // written before has gone out and could still be answered.
    AwaitGoneOut();
    port_->DiscardInput();
    std::uint8_t sum = 0;
    auto send = [&](std::uint8_t b) {
        port_->SendChar(b);
        sum = static_cast<std::uint8_t>(sum + b);
    };
    send(static_cast<std::uint8_t>(kCommandBase + c));
    send(static_cast<std::uint8_t>(n));
    for (int k = 0; k < n; ++k) send(data[k]);
    port_->SendChar(static_cast<std::uint8_t>(-sum));
}

int TVxLoad::ReadReply(int c, std::uint32_t timeoutMs, std::uint8_t* buffer) {
    const auto fail = [c] { return TErr(0, util::Format("Error sending command: %d", c).c_str()); };
    // The time-out counts from when the command (or block) is out on the line, not from when
    // the driver took it.
    AwaitGoneOut();
    const int first = port_->WaitByte(timeoutMs);
    if (first != kCommandBase + c) throw fail();
    const int length = port_->WaitByte(timeoutMs);
    const int n = length & 0x0F;  // the high four bits are not part of the count nor the sum
    std::uint8_t data[15] {};
    unsigned sum = static_cast<unsigned>(first + n);
    for (int k = 0; k < n; ++k) {
        data[k] = static_cast<std::uint8_t>(port_->WaitByte(timeoutMs));
        sum += data[k];
    }
    sum += static_cast<unsigned>(port_->WaitByte(timeoutMs));
    if ((sum & 0xFFu) != 0) throw fail();
    if (buffer) std::memcpy(buffer, data, static_cast<std::size_t>(n));
    std::this_thread::sleep_for(std::chrono::milliseconds(kReplyPauseMs));
    return n > 0 ? data[0] : 0;
}

void TVxLoad::Ping() {
    SendCommand(kPing);
    ReadReply(kPing, kPingTimeoutMs);
}

TVxLoad::Identity TVxLoad::Identify() {
    SendCommand(kIdentify);
    std::uint8_t data[15] {};
    ReadReply(kIdentify, kIdentifyTimeoutMs, data);
    // Nothing follows the identify reply; what came during the pause after it is a second
    // answer (another module on the line, or this one's twice), and either may be the one read.
    if (port_->DiscardInput() > 0) throw TErr(0, kTwoIdentifyAnswersText);
    Identity id;
    id.version = static_cast<std::uint16_t>((data[0] << 8) | data[1]);
    id.revision = static_cast<std::int8_t>(data[2]);
    id.hardware = data[3];
    return id;
}

void TVxLoad::SetBaudRateIndex(int index) {
    if (index < 0 || index > 8) return;
    const std::uint8_t i = static_cast<std::uint8_t>(index);
    SendCommand(kSetBaud, &i, 1);
    ReadReply(kSetBaud, kSetBaudTimeoutMs);
    port_->SetBaudRate(static_cast<int>(kBaudTable[static_cast<std::size_t>(index)]));
    Ping();
}

// One try to reach a bootloader that is already listening; every failure only means "not yet".
bool TVxLoad::TryConnect(bool withFiller) {
    try {
        if (withFiller) {
            const std::vector<std::uint8_t> filler(kFillerSize, kFillerByte);
            port_->SendString(filler.data(), kFillerSize);
            // All of it reaches the device (ending a block it still waits for) before the
            // reopen, and before the ping's time-out starts.
            AwaitGoneOut();
        }
        port_->Open();
        if (withFiller) {
            for (int k = 0; k < 3; ++k) port_->SendChar(0x00);
        }
        Ping();
        if (FastModes()) {
            if (Attempts < kFastModeSwitchLimit) SetBaudRateIndex(kFastBaudIndex);
            Ping();
        }
        return true;
    } catch (const TSerErr&) {
    } catch (const TErr&) {
    }
    return false;
}

void TVxLoad::SendResetRequest() {
    port_->SetBaudRate(static_cast<int>(kRegisterBaud));
    const std::uint8_t request[] = {ResetCommand,      ResetCommand,
                                    ResetCommand,      kResetDestination,
                                    0x00,              kFrameTrailer};
    // The pauses count from the end of what was sent, and the rate changes only once the last
    // byte is out: a change in the middle of a byte would garble it.
    port_->SendString(request, static_cast<int>(sizeof request));
    AwaitGoneOut();
    std::this_thread::sleep_for(std::chrono::milliseconds(kResetGapMs));
    port_->SendChar(kFrameTrailer);
    AwaitGoneOut();
    std::this_thread::sleep_for(std::chrono::milliseconds(kResetSettleMs));
    port_->SetBaudRate(static_cast<int>(BaudRate));
}

void TVxLoad::SendWakePattern(int times) {
    for (int k = 0; k < times; ++k) {
        try {
            port_->SendString(wakePattern_.data(), static_cast<int>(wakePattern_.size()));
        } catch (const TSerErr&) {
            return;
        }
    }
}

// Reads what the device sends while the wake patterns (`patterns` of them, just written) go
// out, and what waits once they have: true when the ready byte was among it. The commands that
// follow must not start their time-outs while the patterns still take the line (the driver
// takes them at once, the line needs 2.8 s for the eight patterns after a mode-0 reset). The
// wait lasts at least the line time of one pattern, so a port that fails every write does not
// turn the wake-up into a spin; a terminate request ends it at once.
bool TVxLoad::AwaitReadyByte(int patterns) {
    const auto deadline =
        Clock::now() + serial::LineTime(wakePattern_.size() * static_cast<std::size_t>(std::max(patterns, 1)),
                                        port_->GetBaudRate());
    bool ready = false;
    for (;;) {
        if (Terminated()) return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        if (port_->ReadByteOrWake(static_cast<std::uint32_t>(left)) == ReadyByte) ready = true;
    }
    AwaitGoneOut();
    for (int b; !ready && (b = port_->ReadByte()) >= 0;) ready = b == ReadyByte;
    return ready;
}

void TVxLoad::WakeUp() {
    wakePattern_.assign(kWakePatternSize, kPatternFill);
    for (std::size_t k = 1; k < wakePattern_.size(); k += 2) wakePattern_[k] = WakeByte;
    if (port_->GetBaudRate() != BaudRate) port_->SetBaudRate(static_cast<int>(BaudRate));
    Post(kStatusResetting);

    while (!StopConnecting && !Terminated()) {
        if (TryConnect(false)) return;
        if (!ResetWanted && TryConnect(true)) return;
        bool ready = false;
        while (!ready) {
            int patterns = 1;
            if (!ResetWanted) {
                Post(kStatusConnecting);
            } else {
                if (ResetCommand != 0) {
                    SendResetRequest();
                    const int afterReset = LoaderMode == 0 ? kMode0ResetPatterns : 1;
                    SendWakePattern(afterReset);
                    patterns += afterReset;
                }
                ResetWanted = false;
            }
            // A connect try that failed after its switch to 57600 leaves the port there; a
            // module turned off and on listens at the mode's rate.
            if (port_->GetBaudRate() != BaudRate) port_->SetBaudRate(static_cast<int>(BaudRate));
            SendWakePattern(1);
            ready = AwaitReadyByte(patterns);
            if (Terminated()) return;
        }
    }
}

void TVxLoad::Execute() {
    SuspendSelf();  // created parked
    while (!Terminated()) {
        if (!port_) {
            Post(kStatusFailed, LoaderMode);
            SuspendSelf();
            continue;
        }
        Attempts = 0;
        step_ = Step::Identify;
        {
            std::lock_guard lock(logMutex_);
            errorLog_.clear();
        }
        // A record its announce cannot carry would be written where it does not belong (or its
        // payload read as commands): the run ends before anything is sent.
        if (const std::string problem = ImageFrameProblem(*this); !problem.empty()) {
            Attempts = kMaxAttempts;
            Fail(problem);
            Post(kStatusFailed, LoaderMode);
            SuspendSelf();
            continue;
        }
        try {
            port_->SetBaudRate(static_cast<int>(BaudRate));
        } catch (const TSerErr& e) {
            Fail(std::string("Serial Error: ") + e.Text);
        }
        while (Attempts < kMaxAttempts && step_ != Step::Finished && !Terminated()) {
            try {
                WakeUp();
                while (step_ != Step::Finished && !Terminated()) DoStep();
            } catch (const TSerErr& e) {
                Fail(std::string("Serial Error: ") + e.Text);
            } catch (const TErr& e) {
                Fail(e.Text);
            } catch (const std::exception& e) {
                Fail(e.what());
            }
        }
        if (Terminated()) {
            Post(kStatusAborted);
            return;
        }
        if (step_ != Step::Finished) Post(kStatusFailed, LoaderMode);
        SuspendSelf();
    }
}

void TVxLoad::DoStep() {
    switch (step_) {
    case Step::Identify:
        CheckIdentity();
        step_ = Step::LineTest;
        break;
    case Step::LineTest:
        if (LoaderMode == 0) LineTest();
        step_ = Step::Erase;
        break;
    case Step::Erase:
        EraseRecords();
        if (!Terminated()) step_ = Step::Flash;
        break;
    case Step::Flash:
        FlashRecords();
        if (!Terminated()) step_ = Step::Epp;
        break;
    case Step::Epp:
        EppRecords();
        if (!Terminated()) step_ = Step::Finish;
        break;
    case Step::Finish:
        SendCommand(kEnd);
        Post(kStatusDone);
        step_ = Step::Finished;
        break;
    case Step::Finished:
        break;
    }
}

void TVxLoad::CheckIdentity() {
    Ping();
    const Identity first = Identify();
    if (window_) {
        protocol::Message info;
        info.number = protocol::MsgLoaderInfo;
        info.wParam = first.version;
        info.text = Description;  // the sink hands the window its own copy
        window_->send(info);
    }
    const auto incompatible = [this] {
        Attempts = kMaxAttempts;
        return TErr(0, "Incompatible hardware!");
    };
    // The hardware checks and the patch act on what the module says it is: every identify
    // answer of the check must say the same as the first, or the attempt fails and is made
    // again, rather than one stray answer deciding.
    const auto confirmed = [&] {
        const Identity again = Identify();
        if (again.version != first.version || again.revision != first.revision ||
            again.hardware != first.hardware)
            throw TErr(0, kIdentifyDiffersText);
        return again;
    };
    if (LoaderMode == 1) {
        if (confirmed().revision < 21 && HardwareCode == 4) throw incompatible();
        if (confirmed().revision > 20) {
            const std::uint32_t k = HardwareCode == 4 ? 1 : HardwareCode;
            if (confirmed().hardware != k) throw incompatible();
            PatchWanted = true;
        }
    } else if (LoaderMode == 3) {
        if (confirmed().hardware != HardwareCode) throw incompatible();
    }
}

void TVxLoad::LineTest() {
    Post(kStatusTesting);
    const int remembered = Attempts;
    Attempts = kMaxAttempts;
    try {
        const std::uint8_t announce[] = {0x00, 0x00, 0x00, 0x10, 0x00};
        SendCommand(kAnnounce, announce, static_cast<int>(sizeof announce));
        ReadReply(kAnnounce, kAnnounceTimeoutMs);
        port_->SendString(kLineTestBlock.data(), kLineTestSize);
        int s = ReadReply(kStatus, kTransferStatusMs);
        if (s != 0)
            throw TErr(0, util::Format("Error in data transfer during testing: %d", s).c_str());
        s = ReadReply(kStatus, kTransferStatusMs);
        if (s != 2) throw TErr(0, util::Format("Status error during testing: %d", s).c_str());
    } catch (const TSerErr&) {
        throw TErr(0, "Error during communcation test");
    } catch (const TErr&) {
        throw TErr(0, "Error during communcation test");
    }
    Attempts = remembered;
}

void TVxLoad::EraseRecords() {
    const auto t0 = Clock::now();
    const auto since = [](Clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
    };
    for (std::size_t i = 0; i < Records.size();) {
        if (Records[i].Type() != kEraseRecord) {
            ++i;
            continue;
        }
        if (LoaderMode != 2) Post(kStatusErasing);
        const auto data = Records[i].Data();
        const std::uint8_t block = data.empty() ? 0 : data[0];
        SendCommand(kErase, &block, 1);
        if (ReadReply(kErase, kEraseTimeoutMs) != 0) throw TErr(0, "Error sending block erase command");
        const auto t1 = Clock::now();
        if (LoaderMode == 2) {
            for (;;) {
                int s;
                try {
                    s = ReadReply(kStatus, kEraseStatusMs);
                } catch (const TSerErr& e) {
                    if (!IsPortTimeout(e)) throw;
                    Post(kStatusErasePercent, std::min<long long>(100, since(t0) * 100 / kEraseScaleMs));
                    if (since(t1) > kEraseLimitMs) throw TErr(0, "Block erase timeout");
                    // A cancel need not wait out the erase limit.
                    if (Terminated()) return;
                    continue;
                }
                if (s != 0) throw TErr(0, "Block erase timeout");
                break;
            }
        } else if (LoaderMode == 3) {
            if (ReadReply(kStatus, kMode3EraseStatusMs) != 0) throw TErr(0, "Block erase timeout");
        }
        Records.erase(Records.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void TVxLoad::AwaitBlockStatus(const char* transferText, const char* writeText) {
    int s = ReadReply(kStatus, kTransferStatusMs);
    if (s != 0) throw TErr(0, util::Format("%s%d", transferText, s).c_str());
    s = ReadReply(kStatus, kWriteStatusMs);
    if (s != 0) throw TErr(0, util::Format("%s%d", writeText, s).c_str());
}

void TVxLoad::SendFlashRecord(ImageRecord& record) {
    const std::uint32_t address = record.Address();
    const std::uint32_t length = record.Length();
    auto payload = record.Data();
    if (LoaderMode == 1) {
        // Variant C: the block at address 0 is rearranged once for the newer hardware. The
        // patched bytes stay in the record, so a retry sends them again without patching twice.
        if (PatchWanted && !PatchDone && address == 0 && PatchAtmega162Payload(payload))
            PatchDone = true;
        const std::uint8_t announce[] = {Byte(address, 8), Byte(address, 0), Byte(length, 8),
                                         Byte(length, 0)};
        SendCommand(kAnnounce, announce, 4);
    } else {
        // Variant A announces two bytes less than it sends (the block's own check); B the
        // whole payload, followed by its CRC-32/JAMCRC.
        const std::uint32_t announced = LoaderMode == 2 ? length : length - 2;
        const std::uint8_t announce[] = {Byte(address, 16), Byte(address, 8), Byte(address, 0),
                                         Byte(announced, 8), Byte(announced, 0)};
        SendCommand(kAnnounce, announce, 5);
    }
    ReadReply(kAnnounce, kAnnounceTimeoutMs);
    port_->SendString(payload.data(), static_cast<int>(payload.size()));
    if (LoaderMode == 2) {
        const std::uint32_t jam = ~Crc32(payload.data(), payload.size());
        for (int shift = 0; shift < 32; shift += 8) port_->SendChar(Byte(jam, shift));
    }
}

void TVxLoad::FlashRecords() {
    for (std::size_t i = 0; i < Records.size();) {
        if (Records[i].Type() != kFlashRecord) {
            ++i;
            continue;
        }
        Post(kStatusTransfering, FlashRecordCount > 0 ? FlashRecordsSent * 100 / FlashRecordCount : 0);
        SendFlashRecord(Records[i]);
        AwaitBlockStatus("Error in data transfer: ", "Error in flash write: ");
        Post(kStatusTransferOk);
        ++FlashRecordsSent;
        Records.erase(Records.begin() + static_cast<std::ptrdiff_t>(i));
        if (Terminated()) return;
    }
}

void TVxLoad::EppRecords() {
    for (std::size_t i = 0; i < Records.size();) {
        if (Records[i].Type() != kEppRecord) {
            ++i;
            continue;
        }
        Post(kStatusTransferingEpp, EppRecordCount > 0 ? EppRecordsSent * 100 / EppRecordCount : 0);
        if (LoaderMode == 1) {
            const std::uint32_t address = Records[i].Address();
            const std::uint32_t length = Records[i].Length();
            const std::uint8_t announce[] = {Byte(address, 8), Byte(address, 0), Byte(length, 8),
                                             Byte(length, 0)};
            SendCommand(kAnnounceEpp, announce, 4);
            ReadReply(kAnnounceEpp, kAnnounceTimeoutMs);
            const auto payload = Records[i].Data();
            port_->SendString(payload.data(), static_cast<int>(payload.size()));
            AwaitBlockStatus("Error in data transfer: ", "Error in flash write: ");
        }
        Post(kStatusTransferOk);
        ++EppRecordsSent;
        Records.erase(Records.begin() + static_cast<std::ptrdiff_t>(i));
        if (Terminated()) return;
    }
}

}  // namespace vindelor::firmware
