#include "protocol/RegisterLink.h"

#include <algorithm>

#include "serial/LineTime.h"

namespace vindelor::protocol {

namespace {
constexpr std::uint8_t kReplyLetter = 'R';
constexpr int kHeaderLetters = 3;
// A reply that breaks off or fails a check; only unwinds the decoder. Port failures are
// TSerErr and go on to the caller.
struct FrameBroken {};
}  // namespace

RegisterLink::RegisterLink(serial::TSerCom& port) : port_(port) {
    sender_.setPort(&port_);
    sender_.setAddressSource([this] { return address_; });
}

void RegisterLink::setSendEcho(Sender::EchoHook hook) {
    sender_.setEcho(std::move(hook));
}

std::chrono::microseconds RegisterLink::lineTime(int bytes) const {
    const auto baud = static_cast<long long>(port_.GetBaudRate());
    if (baud <= 0) return std::chrono::microseconds(0);
    return std::chrono::microseconds((1'000'000LL * kBitsPerByte * bytes + baud - 1) / baud);
}

void RegisterLink::echo(int b) {
    if (receiveEcho_) receiveEcho_(b);
}

std::size_t RegisterLink::discardInput() {
    std::size_t n = 0;
    for (int b = port_.ReadByte(); b >= 0; b = port_.ReadByte()) {
        echo(b);
        ++n;
    }
    return n;
}

namespace {
// A wait on the port of at least t, in the whole milliseconds the port counts in.
std::uint32_t WholeMsAtLeast(std::chrono::microseconds t) {
    return static_cast<std::uint32_t>(
        std::max<std::int64_t>(1, std::chrono::ceil<std::chrono::milliseconds>(t).count()));
}
}  // namespace

std::size_t RegisterLink::settle(std::chrono::microseconds quiet) {
    std::size_t n = discardInput();
    if (!unanswered_) return n;
    const auto ms = WholeMsAtLeast(quiet);
    const auto end = Clock::now() + kSettleRounds * quiet;
    for (int b; Clock::now() < end && (b = port_.ReadByteWithin(ms)) >= 0; ++n) echo(b);
    unanswered_ = false;
    return n;
}

bool RegisterLink::quietFor(std::chrono::microseconds t) {
    const int b = port_.ReadByteWithin(WholeMsAtLeast(t));
    if (b < 0) return true;
    echo(b);
    discardInput();
    unanswered_ = true;
    return false;
}

int RegisterLink::nextByte(Clock::time_point deadline) {
    const int b = port_.ReadByteBefore(deadline);
    if (b >= 0) {
        ++heard_;
        echo(b);
    }
    return b;
}

int RegisterLink::readExpected(int expected) {
    const int b = port_.ReadByteWithin(kByteTimeoutMs);
    if (b < 0) throw FrameBroken{};
    ++heard_;
    echo(b);
    if (expected != -1 && b != expected) throw FrameBroken{};
    return b;
}

int RegisterLink::readPair() {
    const int v = readExpected(-1);
    readExpected(255 - v);
    return v;
}

std::optional<RegisterReply> RegisterLink::read(int address, int registerNumber,
                                                std::chrono::microseconds timeout) {
    address_ = address;
    heard_ = 0;
    sender_.SendReadRequest(static_cast<std::uint8_t>(registerNumber));
    const auto deadline = Clock::now() + timeout;
    int run = 0;
    bool broken = false;
    for (;;) {
        // After a broken frame only as long as a frame's bytes may lie apart: a line that then
        // stays quiet brings no reply any more, and the caller may ask again at once.
        const int b = nextByte(broken ? std::min(deadline, Clock::now() + std::chrono::milliseconds(kByteTimeoutMs))
                                      : deadline);
        if (b < 0) {
            unanswered_ = true;
            return std::nullopt;
        }
        run = b == kReplyLetter ? run + 1 : 0;
        if (run < kHeaderLetters) continue;
        run = 0;
        try {
            if (readPair() != 0) continue;  // not a reply to us
            const auto reply = ReadRegisterReplyBody([this] { return readPair(); },
                                                     [this] {
                                                         readExpected(kTrailer);
                                                         readExpected(kTrailer);
                                                     });
            if (reply && reply->registerNumber == (registerNumber & 0xFF)) return reply;
        } catch (const FrameBroken&) {
            // Passed over; the search goes on after the bytes it took.
            broken = true;
        }
    }
}

std::chrono::microseconds RegisterLink::quietAfterReply(int valueBytes) const {
    return std::chrono::ceil<std::chrono::microseconds>(
        serial::QuietAfterReply(static_cast<std::size_t>(ReplyFrameBytes(valueBytes)), port_.GetBaudRate()));
}

std::size_t RegisterLink::drainFor(std::chrono::microseconds t) {
    const auto end = Clock::now() + t;
    std::size_t n = 0;
    for (int b; (b = port_.ReadByteBefore(end)) >= 0; ++n) echo(b);
    return n;
}

std::size_t RegisterLink::strayWithin(std::chrono::microseconds t) {
    const std::size_t n = drainFor(t);
    if (n > 0) unanswered_ = true;
    return n;
}

Answer RegisterLink::ask(int address, int registerNumber, std::chrono::microseconds timeout,
                         QuietAfter quietAfter) {
    Answer a;
    a.strayBytes = discardInput();
    a.reply = read(address, registerNumber, timeout);
    if (a.reply) {
        a.answeredAt = Clock::now();
        const auto frame = static_cast<std::size_t>(ReplyFrameBytes(a.reply->length));
        if (heard_ > frame) a.strayBytes += heard_ - frame;
        if (quietAfter == QuietAfter::Check) a.strayBytes += drainFor(quietAfterReply(a.reply->length));
    } else {
        a.strayBytes += heard_;
    }
    if (a.strayBytes > 0) unanswered_ = true;
    return a;
}

Reading RegisterLink::readAlone(int address, int registerNumber,
                                std::chrono::microseconds timeout, int attempts, Silence silence) {
    Reading r;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        settle(timeout);
        const Answer a = ask(address, registerNumber, timeout);
        if (a.clean()) {
            r.reply = a.reply;
            r.answeredAt = a.answeredAt;
            return r;
        }
        if (a.doubtful())
            ++r.doubtful;
        else if (silence == Silence::Ends && a.strayBytes == 0)
            break;
    }
    return r;
}

void RegisterLink::write(int address, int registerNumber, int words, std::uint32_t value) {
    address_ = address;
    sender_.SendWriteRequest(static_cast<std::uint8_t>(registerNumber), words, value);
}

void RegisterLink::command(int address, std::uint8_t letter) {
    address_ = address;
    sender_.SendCommand(letter);
}

}  // namespace vindelor::protocol
