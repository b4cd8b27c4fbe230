#include "serial/TSerCom.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "serial/LineTime.h"
#include "serial/PortNames.h"

namespace vindelor::serial {

namespace {

using Clock = std::chrono::steady_clock;

// A write may take as long as the bytes need on the line, twice over, plus this much.
constexpr int kWriteSlackMs = 1000;

bool BaudConstant(std::uint32_t rate, speed_t& out) {
    static constexpr std::pair<std::uint32_t, speed_t> kRates[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000},
    };
    for (const auto& [r, c] : kRates) {
        if (r == rate) {
            out = c;
            return true;
        }
    }
    return false;
}

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

std::string OpenFailureDetail(const std::string& path, int err) {
    if (path.empty()) return "No device is known for this port number.";
    std::string detail = path + ": " + std::strerror(err);
    if (err == EACCES || err == EPERM)
        detail += ". Either install the vindelor package, whose udev rule opens USB serial adapters (ttyUSB, "
                  "ttyACM) to the logged-in user (then replug the adapter), or add your user to the dialout "
                  "group (sudo usermod -aG dialout $USER) and log in again.";
    else if (err == EBUSY || err == EWOULDBLOCK)
        detail += ". Another program is using the port.";
    return detail;
}

TSerCom::TSerCom(int portNumber, int baudRate, int bufferSize)
    : PortNumber(portNumber),
      BaudRate(static_cast<std::uint32_t>(baudRate)),
      BufferSize(static_cast<std::uint32_t>(bufferSize)),
      ReceiveRing(new std::uint8_t[kRingSize]()),
      TransmitRing(new std::uint8_t[kRingSize]()),
      wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TSerCom::TSerCom(std::string devicePath, int baudRate, int bufferSize)
    : TSerCom(0, baudRate, bufferSize) {
    devicePath_ = std::move(devicePath);
}

TSerCom::~TSerCom() {
    Close();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

std::string TSerCom::ResolvedDevicePath() const {
    return devicePath_.empty() ? DevicePathForPort(PortNumber) : devicePath_;
}

void TSerCom::Open() {
    Close();
    if (devicePath_.empty() && PortNumber > kMaxPortNumber)
        throw TSerErr(TSerErr::Open, "Invalid port number");

    const std::string path = ResolvedDevicePath();
    if (path.empty())
        throw TSerErr(TSerErr::Open, "Error opening port", OpenFailureDetail(path, 0).c_str());
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw TSerErr(TSerErr::Open, "Error opening port", OpenFailureDetail(path, errno).c_str());
    // Not shared: TIOCEXCL keeps other openers out (except the super-user), the lock keeps out
    // a second copy of this tool even when it runs as root.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        ::close(fd);
        throw TSerErr(TSerErr::Open, "Error opening port", OpenFailureDetail(path, err).c_str());
    }

    // The driver's queue sizes are fixed on this platform; there is nothing to set up.
    termios tio {};
    if (::tcgetattr(fd, &tio) != 0) {
        int err = errno;
        ::close(fd);
        throw TSerErr(TSerErr::Open, "Error opening port (DCB Get)",
                      OpenFailureDetail(path, err).c_str());
    }
    ::ioctl(fd, TIOCEXCL);
    Handle = fd;
    try {
        ApplyConfiguration();
    } catch (...) {
        ::close(fd);
        Handle = -1;
        throw;
    }

    // USB adapters hold received bytes for up to 16 ms unless asked not to.
    serial_struct ss {};
    if (::ioctl(fd, TIOCGSERIAL, &ss) == 0 && !(ss.flags & ASYNC_LOW_LATENCY)) {
        ss.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &ss);
    }

    // A fresh port starts with empty queues: bytes sent before the open are not a reply, and
    // bytes of ours still queued are gone.
    ::tcflush(fd, TCIOFLUSH);
    DropReadBuffer();
    lineFreeNs_ = Clock::now().time_since_epoch().count();
    IsOpen = true;
    hangUpTold_ = false;
    TapEvent("open " + path + " baud " + std::to_string(BaudRate));
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleAfterOpenMs));
    ReceiveCount = 0;
    TransmitCount = 0;
    ReceiveReadIndex = 0;
    TransmitReadIndex = 0;
    RingSize = kRingSize;
}

void TSerCom::ApplyConfiguration() {
    termios tio {};
    speed_t speed {};
    if (::tcgetattr(Handle, &tio) != 0 || !BaudConstant(BaudRate, speed))
        throw TSerErr(TSerErr::Open, "Error setting port parameters (SetCommState)");
    ::cfmakeraw(&tio);
    // cfmakeraw leaves software flow control on input (IXOFF) and a few other input flags as
    // they were: the driver would then insert or swallow XON/XOFF bytes in binary traffic.
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | IGNBRK | BRKINT | IGNPAR | PARMRK |
                                          INPCK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IMAXBEL);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 ||
        ::tcsetattr(Handle, TCSANOW, &tio) != 0)
        throw TSerErr(TSerErr::Open, "Error setting port parameters (SetCommState)");

    // RTS high only while sending, for RS-485 adapters whose direction follows RTS. Drivers
    // without RS-485 support (pseudo-terminals, adapters that switch by themselves) are fine.
    serial_rs485 rs485 {};
    if (::ioctl(Handle, TIOCGRS485, &rs485) == 0) {
        rs485.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        rs485.flags &= ~static_cast<std::uint32_t>(SER_RS485_RTS_AFTER_SEND);
        ::ioctl(Handle, TIOCSRS485, &rs485);
    }
}

void TSerCom::Close() {
    if (Handle >= 0) {
        // The exclusive flag belongs to the terminal, not to this descriptor: left set, it
        // would keep every later open by a normal user out while any other descriptor of the
        // terminal stays open.
        ::ioctl(Handle, TIOCNXCL);
        ::close(Handle);
        Handle = -1;
        TapEvent("closed");
    }
    IsOpen = false;
    DropReadBuffer();
}

void TSerCom::SetBaudRate(int rate) {
    BaudRate = static_cast<std::uint32_t>(rate);
    if (IsOpen) {
        ApplyConfiguration();
        TapEvent("baud " + std::to_string(BaudRate));
    }
}

TSerCom::Waited TSerCom::WaitReadable(std::chrono::nanoseconds timeout, bool wakeable) {
    pollfd pfd[2] = {{Handle, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const nfds_t count = wakeable && wakeFd_ >= 0 ? 2 : 1;
    const auto ns = std::max<std::int64_t>(0, timeout.count());
    const timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    for (;;) {
        int r = ::ppoll(pfd, count, &ts, nullptr);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) throw TSerErr(TSerErr::Io, "Error reading port");
        if (count == 2 && (pfd[1].revents & POLLIN)) {
            std::uint64_t wakes = 0;
            [[maybe_unused]] auto n = ::read(wakeFd_, &wakes, sizeof wakes);
            return Waited::Woken;
        }
        // A hang-up or error counts as "readable": the read that follows reports it.
        return r > 0 ? Waited::Readable : Waited::TimedOut;
    }
}

void TSerCom::WakeReader() {
    if (wakeFd_ < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
}

int TSerCom::ReadByte() {
    if (readPos_ < readLen_) return readBuffer_[readPos_++];
    if (!IsOpen) throw TSerErr(TSerErr::Io, "Error reading port");
    // One read takes whatever the driver holds; the bytes are handed out from the buffer.
    ssize_t n;
    do {
        n = ::read(Handle, readBuffer_.data(), readBuffer_.size());
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        readPos_ = 1;
        readLen_ = static_cast<std::size_t>(n);
        Tapped(TrafficTap::Direction::Received, readBuffer_.data(), readLen_);
        return readBuffer_[0];
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return -1;
    if (n < 0) ReadFailed(errno == EIO);
    // With no minimum count a terminal read returns nothing both when the queue is empty and
    // when the line hung up (unplugged adapter, closed pseudo-terminal): ask which.
    pollfd pfd {Handle, POLLIN, 0};
    int r;
    do {
        r = ::poll(&pfd, 1, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0 || (pfd.revents & (POLLERR | POLLNVAL | POLLHUP))) ReadFailed((pfd.revents & POLLHUP) != 0);
    return -1;
}

void TSerCom::ReadFailed(bool hangUp) {
    if (hangUp && !hangUpTold_) {
        hangUpTold_ = true;
        TapEvent("hang-up");
    }
    throw TSerErr(TSerErr::Io, "Error reading port");
}

int TSerCom::ReadWithin(std::uint32_t ms, bool wakeable) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int r = ReadByte();
        if (r >= 0) return r;
        int left = RemainingMs(deadline);
        if (left <= 0) return -1;
        if (WaitReadable(std::chrono::milliseconds(left), wakeable) == Waited::Woken) return -1;
    }
}

int TSerCom::ReadByteBefore(Clock::time_point deadline) {
    for (;;) {
        int r = ReadByte();
        if (r >= 0) return r;
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return -1;
        WaitReadable(left, false);
    }
}

int TSerCom::ReadByteWithin(std::uint32_t ms) { return ReadWithin(ms, false); }

int TSerCom::ReadByteOrWake(std::uint32_t ms) { return ReadWithin(ms, true); }

int TSerCom::WaitByte(std::uint32_t ms) {
    int r = ReadByteWithin(ms);
    if (r < 0) throw TSerErr(TSerErr::Io, "No Data");
    return r;
}

int TSerCom::DiscardInput() {
    int dropped = 0;
    while (ReadByte() >= 0) ++dropped;
    return dropped;
}

int TSerCom::ReadByteNow() {
    int r = ReadByte();
    if (r < 0) throw TSerErr(TSerErr::Io, "No Data");
    return r;
}

namespace {

// Hands every byte to the driver or fails: the descriptor is non-blocking, so a line that
// stops taking bytes ends in an error instead of a hang.
bool WriteAll(int fd, const std::uint8_t* p, std::size_t count, std::uint32_t baud) {
    const auto deadline = Clock::now() + 2 * LineTimeMs(count, baud) + std::chrono::milliseconds(kWriteSlackMs);
    while (count > 0) {
        ssize_t n = ::write(fd, p, count);
        if (n > 0) {
            p += n;
            count -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd {fd, POLLOUT, 0};
            int left = RemainingMs(deadline);
            if (left <= 0) return false;
            int r = ::poll(&pfd, 1, left);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0 || (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) return false;
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace

// The tap sees bytes before they go out: a reply may be read (and traced) before a write call
// returns. A write that fails is told to the tap as an event.
void TSerCom::SendChar(std::uint8_t b) {
    if (!IsOpen) throw TSerErr(TSerErr::Io, "Error sending char");
    Tapped(TrafficTap::Direction::Sent, &b, 1);
    const auto start = Clock::now();
    if (!WriteAll(Handle, &b, 1, BaudRate)) {
        TapEvent("write failed");
        throw TSerErr(TSerErr::Io, "Error sending char");
    }
    NoteWritten(1, start);
}

void TSerCom::SendString(const std::uint8_t* p, int count) {
    if (count < 0 || !IsOpen) throw TSerErr(TSerErr::Io, "Error sending string");
    if (count == 0) return;
    Tapped(TrafficTap::Direction::Sent, p, static_cast<std::size_t>(count));
    const auto start = Clock::now();
    if (!WriteAll(Handle, p, static_cast<std::size_t>(count), BaudRate)) {
        TapEvent("write failed");
        throw TSerErr(TSerErr::Io, "Error sending string");
    }
    NoteWritten(static_cast<std::size_t>(count), start);
}

void TSerCom::NoteWritten(std::size_t count, Clock::time_point start) {
    // The bytes cannot start before the write began, nor before the bytes ahead of them have
    // left; the line then takes its time for each. A lower bound of the real end, never later.
    const std::int64_t line = std::chrono::duration_cast<Clock::duration>(LineTime(count, BaudRate)).count();
    const std::int64_t begun = start.time_since_epoch().count();
    std::int64_t free = lineFreeNs_.load();
    while (!lineFreeNs_.compare_exchange_weak(free, std::max(free, begun) + line)) {
    }
}

bool TSerCom::WaitSent(std::uint32_t slackMs) {
    if (!IsOpen) throw TSerErr(TSerErr::Io, "Error sending string");
    std::this_thread::sleep_until(Clock::time_point(Clock::duration(lineFreeNs_.load())));
    const auto queued = [this] {
        int n = 0;
        if (::ioctl(Handle, TIOCOUTQ, &n) != 0) throw TSerErr(TSerErr::Io, "Error sending string");
        return static_cast<std::size_t>(std::max(n, 0));
    };
    std::size_t left = queued();
    const auto deadline = Clock::now() + LineTimeMs(left, BaudRate) + std::chrono::milliseconds(slackMs);
    // Sleeps the line time of what is left each round, so the wait costs no processor time.
    while (left > 0) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::max(std::chrono::milliseconds(1), LineTimeMs(left, BaudRate)));
        left = queued();
    }
    return true;
}

void TSerCom::EnsureSent(std::uint32_t slackMs) {
    if (!WaitSent(slackMs)) throw TSerErr(TSerErr::Io, "Error sending string");
}

void TSerCom::FillReceiveRing(std::uint32_t n, const std::function<bool()>& abandon) {
    if (ReceiveCount >= n) return;
    const std::uint32_t m = n - ReceiveCount;
    if (!IsOpen) throw TSerErr(TSerErr::Io, "Error recving data");
    // The whole read waits at most WaitTimeout, as one overlapped read would.
    std::vector<std::uint8_t> got;
    got.reserve(m);
    const auto deadline = Clock::now() + std::chrono::milliseconds(WaitTimeout);
    while (got.size() < m) {
        int r = ReadByte();
        if (r >= 0) {
            got.push_back(static_cast<std::uint8_t>(r));
            continue;
        }
        int left = RemainingMs(deadline);
        if (left <= 0) break;
        if (WaitReadable(std::chrono::milliseconds(left), static_cast<bool>(abandon)) == Waited::Woken &&
            abandon())
            throw TSerErr(TSerErr::Io, "Error recving data");
    }
    if (got.size() < m) throw TSerErr(TSerErr::Io, "Error no data");
    if (ReceiveCount + m >= RingSize) throw TSerErr(TSerErr::Io, "Error buffer overflow sending");
    for (std::uint8_t b : got) {
        ReceiveRing[(ReceiveReadIndex + ReceiveCount) % RingSize] = b;
        ++ReceiveCount;
    }
}

void TSerCom::FlushTransmitRing() {
    if (TransmitCount == 0) return;
    std::vector<std::uint8_t> block(TransmitCount);
    for (auto& b : block) {
        b = TransmitRing[TransmitReadIndex];
        TransmitReadIndex = (TransmitReadIndex + 1) % RingSize;
    }
    if (!IsOpen) throw TSerErr(TSerErr::Io, "Error sending data");
    Tapped(TrafficTap::Direction::Sent, block.data(), block.size());
    const auto start = Clock::now();
    if (!WriteAll(Handle, block.data(), block.size(), BaudRate)) {
        TapEvent("write failed");
        throw TSerErr(TSerErr::Io, "Error sending data");
    }
    NoteWritten(block.size(), start);
    TransmitCount = 0;
}

int TSerCom::TakeReceivedByte() {
    if (ReceiveCount == 0) return -1;
    int b = ReceiveRing[ReceiveReadIndex];
    ReceiveReadIndex = (ReceiveReadIndex + 1) % RingSize;
    --ReceiveCount;
    return b;
}

bool TSerCom::PutTransmitByte(std::uint8_t b) {
    if (TransmitCount >= RingSize) return false;
    TransmitRing[(TransmitReadIndex + TransmitCount) % RingSize] = b;
    ++TransmitCount;
    return true;
}

}  // namespace vindelor::serial
