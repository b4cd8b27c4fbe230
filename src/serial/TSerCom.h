#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "serial/TSerErr.h"
#include "serial/TrafficTap.h"

namespace vindelor::serial {

// The one object through which the tool talks to the serial port: 8 data bits, no parity, one
// stop bit at the chosen rate, RTS raised only while sending (RS-485 adapters), and byte-level
// reads and writes. Every failure is thrown as a TSerErr.
//
// POSIX implementation: termios raw mode, exclusive open, TIOCSRS485 where the driver has it.
// Waits block in poll(); nothing here spins.
class TSerCom {
public:
    static constexpr std::uint32_t kRingSize = 8000;
    static constexpr std::uint32_t kWaitTimeoutMs = 5000;
    static constexpr int kMaxPortNumber = 256;
    static constexpr int kSettleAfterOpenMs = 10;

    // A numbered port (COMn); the device is found through PortNames at Open.
    TSerCom(int portNumber, int baudRate, int bufferSize);
    // A device given by path (the command line's --port /dev/...); PortNumber is 0.
    TSerCom(std::string devicePath, int baudRate, int bufferSize);
    ~TSerCom();
    TSerCom(const TSerCom&) = delete;
    TSerCom& operator=(const TSerCom&) = delete;

    void Open();
    void Close();
    void SetBaudRate(int rate);
    std::uint32_t GetBaudRate() const { return BaudRate; }

    // -1 at once when no byte waits; otherwise the byte as 0..255.
    int ReadByte();
    // Blocks until a byte arrives; throws "No Data" after ms milliseconds.
    int WaitByte(std::uint32_t ms);
    // One ReadByte; throws "No Data" when nothing waits.
    int ReadByteNow();
    // Like WaitByte but returns -1 instead of throwing when the time passes without a byte.
    // Port errors (a hang-up included) still throw.
    int ReadByteWithin(std::uint32_t ms);
    // Like ReadByteWithin, to a point in time rather than whole milliseconds: the short waits
    // that tell a quiet line from one still carrying bytes.
    int ReadByteBefore(std::chrono::steady_clock::time_point deadline);
    // Like ReadByteWithin, but WakeReader() from another thread ends the wait at once with -1
    // (the idle wait of the receive thread, so a stop or pause never waits out the poll).
    int ReadByteOrWake(std::uint32_t ms);
    // Ends the current or the next ReadByteOrWake wait. Safe from any thread.
    void WakeReader();
    // Drops every byte that waits in the input (read, so a traffic tap still sees it) and
    // returns how many there were. Never waits. Throws on port errors.
    int DiscardInput();

    void SendChar(std::uint8_t b);
    void SendString(const std::uint8_t* p, int count);
    // Waits until the driver has put every byte written so far on the line (a write returns
    // as soon as the driver holds the bytes), at most the line time of what is left plus
    // slackMs. False when bytes are still waiting then. Throws on port errors.
    // A driver that does not report its queue (a pseudo-terminal, some USB adapters) reports
    // it empty: the wait then lasts at least until the line can have carried every byte
    // written, at the rate each was written at.
    bool WaitSent(std::uint32_t slackMs);
    // WaitSent, throwing "Error sending string" when bytes are still waiting after it: a wait
    // for an answer that starts only then never counts our own bytes' line time.
    void EnsureSent(std::uint32_t slackMs);

    // Buffered block transfers of the expansion-module poll. With `abandon`, a WakeReader()
    // during the wait asks it whether to give up ("Error recving data") or go on waiting.
    void FillReceiveRing(std::uint32_t n, const std::function<bool()>& abandon = {});
    void FlushTransmitRing();
    int TakeReceivedByte();
    // Appends a byte to the transmit ring; false when the ring is full.
    bool PutTransmitByte(std::uint8_t b);

    // Hands every byte written and read from now on to the tap (nullptr: none, the default).
    // The tap must outlive its use: remove it, or stop every thread using the port, before it
    // goes away. With no tap the cost is one pointer load per block.
    void SetTap(TrafficTap* tap) { tap_.store(tap, std::memory_order_release); }

    const std::string& DevicePath() const { return devicePath_; }
    // The device the object opens (or would open) now.
    std::string ResolvedDevicePath() const;

    int Handle = -1;
    bool IsOpen = false;
    int PortNumber;
    std::uint32_t BaudRate;
    std::uint32_t Parity = 0;
    std::uint32_t StopBits = 0;
    std::uint32_t ByteSize = 8;
    std::uint32_t BufferSize;
    std::uint32_t WaitTimeout = kWaitTimeoutMs;
    std::uint32_t RingSize = kRingSize;
    std::unique_ptr<std::uint8_t[]> ReceiveRing;
    std::unique_ptr<std::uint8_t[]> TransmitRing;
    std::uint32_t ReceiveCount = 0;
    std::uint32_t TransmitCount = 0;
    std::uint32_t ReceiveReadIndex = 0;
    std::uint32_t TransmitReadIndex = 0;

private:
    // Bytes are read from the driver in chunks of up to this many and handed out one by one.
    static constexpr std::size_t kReadChunk = 256;

    void ApplyConfiguration();
    enum class Waited { Readable, TimedOut, Woken };
    // Waits up to ms for the port (or, when wakeable, a wake-up) to become readable. Throws on
    // port errors.
    Waited WaitReadable(std::chrono::nanoseconds timeout, bool wakeable = false);
    int ReadWithin(std::uint32_t ms, bool wakeable);
    void DropReadBuffer() { readPos_ = readLen_ = 0; }
    void Tapped(TrafficTap::Direction direction, const std::uint8_t* p, std::size_t count) {
        if (auto* tap = tap_.load(std::memory_order_acquire)) tap->traffic(direction, p, count);
    }
    void TapEvent(const std::string& text) {
        if (auto* tap = tap_.load(std::memory_order_acquire)) tap->lineEvent(text);
    }
    // Throws the read error, telling the tap once when the line hung up.
    [[noreturn]] void ReadFailed(bool hangUp);
    // Counts count bytes handed to the driver by a write that began at start into the time
    // the line is free again.
    void NoteWritten(std::size_t count, std::chrono::steady_clock::time_point start);

    std::string devicePath_;
    int wakeFd_ = -1;  // eventfd written by WakeReader
    std::array<std::uint8_t, kReadChunk> readBuffer_ {};
    std::size_t readPos_ = 0;
    std::size_t readLen_ = 0;
    std::atomic<TrafficTap*> tap_ {nullptr};
    bool hangUpTold_ = false;
    // The earliest the line can have carried every byte written (steady clock ticks since its
    // epoch). Written by whichever thread sends, so atomic.
    std::atomic<std::int64_t> lineFreeNs_ {0};
};

// The detail line of an open failure: the device, the system's reason and, where the user can
// do something about it, what (file permissions: the package's udev rule or the dialout group).
std::string OpenFailureDetail(const std::string& path, int err);

}  // namespace vindelor::serial
