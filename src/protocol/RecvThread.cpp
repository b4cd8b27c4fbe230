#include "protocol/RecvThread.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "protocol/RegisterReply.h"

namespace vindelor::protocol {

namespace {

using Clock = std::chrono::steady_clock;

// Reply letters and the payload limits of each kind.
constexpr int kMaxSampleBytes = 100;
constexpr int kMaxFieldbusBytes = 100;
constexpr int kMaxModuleInfoBytes = 48;
constexpr int kModuleStatusBytes = 108;
constexpr int kMaxModuleRegisterBytes = 4;
constexpr int kDebugInfoBytes = 8;

// A frame that breaks is dropped without a word; the type only unwinds the decoder.
struct FrameAbandoned {};

}  // namespace

RecvThread::RecvThread(serial::TSerCom* port, MessageSink* window, DownloadHook download)
    : port_(port), window_(window), download_(std::move(download)) {
    Start();
}

RecvThread::~RecvThread() { Stop(); }

void RecvThread::Pause() {
    pauseRequest_ = true;
    port_->WakeReader();
    WaitUntilSuspended([this] { window_->deliverPending(); });
    pauseRequest_ = false;
}

void RecvThread::WakeForTerminate() { port_->WakeReader(); }

void RecvThread::WindowLink::post(int number, std::int64_t wParam, std::int64_t lParam) {
    owner_.window_->post(number, wParam, lParam);
}

void RecvThread::WindowLink::send(const Message& message) {
    struct OwnerWait {
        explicit OwnerWait(RecvThread& t) : thread(t) { thread.BeginOwnerWait(); }
        ~OwnerWait() { thread.EndOwnerWait(); }
        RecvThread& thread;
    } wait(owner_);
    owner_.window_->send(message);
}

void RecvThread::Echo(int b) { link_.post(MsgReceivedByte, b, 0); }

RecvThread::Heard RecvThread::Count() const {
    std::lock_guard lock(heardMutex_);
    return heard_;
}

int RecvThread::ReplyFrameBytes(int number, std::int64_t wParam) {
    constexpr int kFraming = 3 + 2 + 2;  // the letters, the destination pair, the trailer
    switch (number) {
        case MsgRegisterValue:
        case MsgModuleRegister: return kFraming + 2 + 2 + 2 * kMaxModuleRegisterBytes;
        case MsgDebugInfo: return kFraming + 2 * kDebugInfoBytes;
        default: return kFraming + 2 + 2 * static_cast<int>(std::clamp<std::int64_t>(wParam, 0, 255));
    }
}

void RecvThread::Heard1() {
    std::lock_guard lock(heardMutex_);
    ++heard_.bytes;
}

void RecvThread::Delivered() {
    std::lock_guard lock(heardMutex_);
    heard_.framed += heard_.bytes - frameStart_;
    ++heard_.frames;
}

int RecvThread::IdleRead(int waitMs, bool betweenFrames) {
    const auto ms = static_cast<std::uint32_t>(waitMs);
    const int b = waitMs <= 0       ? port_->ReadByte()
                  : betweenFrames ? port_->ReadByteOrWake(ms)
                                  : port_->ReadByteWithin(ms);
    if (b >= 0) {
        Heard1();
        const std::int64_t second =
            std::chrono::duration_cast<std::chrono::seconds>(Clock::now().time_since_epoch()).count();
        if (second != echoSecond_) {
            echoSecond_ = second;
            echoCount_ = 0;
        }
        if (echoCount_ < kEchoPerSecond) {
            ++echoCount_;
            Echo(b);
        }
    }
    return b;
}

int RecvThread::ReadExpected(int expected) {
    const int b = port_->WaitByte(kByteTimeoutMs);
    Heard1();
    Echo(b);
    if (expected != -1 && b != expected)
        throw serial::TSerErr(serial::TSerErr::Open, "Forkert data modtaget");
    return b;
}

int RecvThread::ReadPair() {
    const int v = ReadExpected(-1);
    ReadExpected(255 - v);
    return v;
}

void RecvThread::ReadPayload(int count, std::uint8_t* out) {
    for (int i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(ReadPair());
}

void RecvThread::ReadTrailer() {
    ReadExpected(0xAA);
    ReadExpected(0xAA);
}

void RecvThread::Execute() {
    int pending = -1;
    while (!Terminated()) {
        if (pauseRequest_) {
            SuspendSelf();
            continue;
        }
        int candidate;
        if (pending > 0) {
            candidate = pending;
            pending = -1;
        } else {
            try {
                candidate = IdleRead(kRecvPollMs, true);
            } catch (const serial::TSerErr&) {
                return;  // the port is gone; the next port replacement starts a new thread
            }
            if (candidate < 0) continue;
        }
        {
            // The candidate is the last byte read, whether it came now or was held over.
            std::lock_guard lock(heardMutex_);
            frameStart_ = heard_.bytes - 1;
        }
        try {
            // The other two letters must follow within the header window of the first.
            const auto deadline = Clock::now() + std::chrono::milliseconds(kHeaderWindowMs);
            auto left = [&] {
                auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
                return ms > 0 ? static_cast<int>(ms) : 0;
            };
            int b = IdleRead(left());
            if (b != candidate) {
                pending = b;
                continue;
            }
            b = IdleRead(left());
            if (b != candidate) {
                pending = b;
                continue;
            }
            Decode(candidate);
        } catch (const serial::TSerErr&) {
            // A broken frame: its bytes are in the echo and nowhere else.
        } catch (const FrameAbandoned&) {
        }
    }
}

void RecvThread::Decode(int letter) {
    if (letter == 'f') {
        if (download_) download_(*port_, link_, LoadFpga.load());
        return;
    }
    switch (letter) {
        case 'R': case 'S': case '0': case '@': case 'C': case 'a': case 'X': case '[':
            break;
        default:
            return;  // not a reply of ours: read nothing more
    }
    if (ReadPair() != 0) throw FrameAbandoned {};

    std::array<std::uint8_t, 256> payload {};
    switch (letter) {
        case 'R': {
            const auto reply = ReadRegisterReplyBody([this] { return ReadPair(); }, [this] { ReadTrailer(); });
            if (!reply) return;
            Delivered();
            link_.post(MsgRegisterValue, reply->registerNumber, reply->value);
            return;
        }
        case '[': {
            const int reg = ReadPair();
            const int n = ReadPair();
            if (n > kMaxModuleRegisterBytes) throw FrameAbandoned {};
            std::uint32_t value = 0;
            for (int i = 0; i < n; ++i) value |= static_cast<std::uint32_t>(ReadPair()) << (8 * i);
            ReadTrailer();
            Message m;
            m.number = MsgModuleRegister;
            m.wParam = reg;
            m.lParam = value;
            Delivered();
            link_.send(m);
            return;
        }
        case '0': {
            ReadPayload(kDebugInfoBytes, payload.data());
            ReadTrailer();
            Delivered();
            link_.send({MsgDebugInfo, 0, 0, {payload.data(), kDebugInfoBytes}, {}});
            return;
        }
        default:
            break;
    }

    // The kinds with a length pair and a payload.
    int limit = 255;
    int number = 0;
    switch (letter) {
        case 'S': limit = kMaxSampleBytes; number = MsgSampleRow; break;
        case '@': limit = kMaxFieldbusBytes; number = MsgFieldbusData; break;
        case 'C': limit = 255; number = MsgDebugData; break;
        case 'a': limit = kMaxModuleInfoBytes; number = MsgModuleInfo; break;
        case 'X': limit = kModuleStatusBytes; number = MsgModuleStatus; break;
    }
    const int n = ReadPair();
    if (n > limit) throw FrameAbandoned {};
    ReadPayload(n, payload.data());
    ReadTrailer();
    // The module status always goes out as its whole zero-filled block.
    const std::size_t size = letter == 'X' ? kModuleStatusBytes : static_cast<std::size_t>(n);
    Delivered();
    link_.send({number, n, 0, {payload.data(), size}, {}});
}

}  // namespace vindelor::protocol
