#include "cli/Session.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "cli/Trace.h"
#include "protocol/ByteText.h"
#include "registers/ParameterDevice.h"
#include "serial/LineTime.h"
#include "serial/PortNames.h"

namespace vindelor::cli {

void CliSink::print(const char* prefix, std::string_view item) {
    std::lock_guard lock(printMutex_);
    if (openLine_ != prefix) {
        if (openLine_) std::cerr << "\n";
        std::cerr << prefix;
        openLine_ = prefix;
    }
    std::cerr << item;
    std::cerr.flush();
}

void CliSink::post(int number, std::int64_t wParam, std::int64_t lParam) {
    if (number == protocol::MsgReceivedByte) {
        if (echo_)
            print("recv: ", wParam == protocol::kLoadedMarker ? std::string("<Loaded>")
                                                              : protocol::ByteText(static_cast<std::uint8_t>(wParam)));
        return;
    }
    QueueSink::post(number, wParam, lParam);
}

void CliSink::echoSent(std::string_view item) {
    if (echo_) print("send: ", item);
}

void CliSink::endEchoLine() {
    std::lock_guard lock(printMutex_);
    if (openLine_) std::cerr << std::endl;
    openLine_ = nullptr;
}

std::unique_ptr<serial::TSerCom> MakePort(const std::string& port, int baud) {
    constexpr int kBufferSize = 8000;
    std::unique_ptr<serial::TSerCom> p;
    if (auto n = serial::ParsePortName(port))
        p = std::make_unique<serial::TSerCom>(*n, baud, kBufferSize);
    else
        p = std::make_unique<serial::TSerCom>(port, baud, kBufferSize);
    p->SetTap(ActiveTrace());
    return p;
}

void OpenOrThrow(serial::TSerCom& port) {
    try {
        port.Open();
    } catch (const serial::TSerErr& e) {
        std::string message = e.Text;
        const std::string device = port.ResolvedDevicePath();
        if (e.Detail[0])
            message += std::string(": ") + e.Detail;
        else if (!device.empty())
            message += ": " + device;
        throw CommandError {kExitUsage, message};
    }
}

long long ParseNumber(const std::string& text, const char* what) {
    errno = 0;
    char* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    long long v = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
    if (text.empty() || errno != 0 || *end != '\0')
        throw CommandError {kExitUsage, std::string("Not a number for ") + what + ": " + text};
    return v;
}

Session::Session(const GlobalOptions& options) : options_(options), sink_(options.echo) {
    port_ = MakePort(options.port, options.baud);
    OpenOrThrow(*port_);
    sender_.setPort(port_.get());
    sender_.setAddressSource([a = options.address] { return a; });
    sender_.setGroupSource([g = options.group] { return g; });
    if (options.echo) sender_.setEcho([this](std::string_view item) { sink_.echoSent(item); });
    thread_ = std::make_unique<protocol::RecvThread>(port_.get(), &sink_);
}

Session::~Session() {
    thread_.reset();  // stopped before the port it reads goes away
    sink_.endEchoLine();
}

BorrowedPort::BorrowedPort(Session& s) : session_(s), link(s.port()) {
    session_.receiveThread().Pause();
    link.setSendEcho([&s](std::string_view item) { s.sink().echoSent(item); });
    link.setReceiveEcho([&s](int b) { s.sink().post(protocol::MsgReceivedByte, b, 0); });
}

BorrowedPort::~BorrowedPort() {
    session_.flushSendEcho();
    session_.receiveThread().Resume();
}

namespace {

// Until the receive thread has heard nothing for `quiet`, at most kSettleRounds times as long.
void Settle(protocol::RecvThread& thread, std::chrono::milliseconds quiet) {
    constexpr int kSettleRounds = 10;
    for (int round = 0; round < kSettleRounds; ++round) {
        const auto before = thread.Count().bytes;
        std::this_thread::sleep_for(quiet);
        if (thread.Count().bytes == before) return;
    }
}

}  // namespace

std::optional<protocol::ReceivedMessage> Session::takeReply(
    const std::function<bool(const protocol::ReceivedMessage&)>& match, int timeoutMs, std::uint64_t heardBefore) {
    using Clock = std::chrono::steady_clock;
    const auto gap = std::chrono::milliseconds(protocol::RecvThread::kByteTimeoutMs);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::uint64_t heard = heardBefore;
    auto lastByte = Clock::now();
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline) return std::nullopt;
        const auto slice = std::min(std::chrono::ceil<std::chrono::milliseconds>(deadline - now), gap);
        if (auto m = sink_.take(match, slice)) return m;
        // Bytes came and then nothing for as long as a frame's bytes may lie apart, and no reply
        // was made of them: a broken one. No other is coming.
        const auto count = thread_->Count().bytes;
        if (count != heard) {
            heard = count;
            lastByte = Clock::now();
        } else if (heard != heardBefore && Clock::now() - lastByte >= 2 * gap) {
            return std::nullopt;
        }
    }
}

Session::Asked Session::askAlone(const std::function<void()>& send,
                                 const std::function<bool(const protocol::ReceivedMessage&)>& match,
                                 int timeoutMs) {
    Asked asked;
    for (int attempt = 0; attempt < kAskAttempts; ++attempt) {
        if (attempt > 0) Settle(*thread_, std::chrono::milliseconds(kSettleQuietMs));
        // A reply queued before the question (the second answer to the last one, come after its
        // quiet time) is no answer to it.
        sink_.drain();
        const auto before = thread_->Count();
        send();
        auto m = takeReply(match, timeoutMs, before.bytes);
        sink_.endEchoLine();
        if (!m) {
            // A broken reply is asked again; silence is the answer.
            if (thread_->Count().bytes == before.bytes) return asked;
            continue;
        }
        const auto quiet = serial::QuietAfterReply(
            static_cast<std::size_t>(protocol::RecvThread::ReplyFrameBytes(m->number, m->wParam)), port_->GetBaudRate());
        std::this_thread::sleep_for(quiet);
        const auto after = thread_->Count();
        if (after.frames == before.frames + 1 && after.stray() == before.stray()) {
            asked.reply = std::move(m);
            return asked;
        }
        ++asked.doubtful;
    }
    return asked;
}

std::uint32_t Session::readRegisterAlone(int registerNumber, const std::string& name, int timeoutMs) {
    const auto asked = askAlone(
        [&] { sender_.SendReadRequest(static_cast<std::uint8_t>(registerNumber)); },
        [registerNumber](const protocol::ReceivedMessage& r) {
            return r.number == protocol::MsgRegisterValue && r.wParam == registerNumber;
        },
        timeoutMs);
    if (asked.reply) return static_cast<std::uint32_t>(asked.reply->lParam);
    if (asked.doubtful > 0)
        throw CommandError {kExitDevice, registers::TwoAnswersText(name, options_.address)};
    throw CommandError {kExitDevice, "No answer from the device to the read of " + name};
}

}  // namespace vindelor::cli
