#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/DeviceModel.h"
#include "sim/Faults.h"
#include "sim/Pty.h"

namespace vindelor::sim {

// Runs a device model on the master side of a pseudo-terminal, in a thread of its own.
//
// Line rate: with a baud rate set, every byte the device sends takes 10 bit times, paced
// against an absolute schedule so that the sum stays right however the thread is woken.
// Faults: a chosen byte of the device's output (counted from 0 since the last resetFaults) can
// be dropped, corrupted or delayed. Random faults (setFaults) make each reply a plan of pieces
// with times (a pause inside it, a copy after it, another device's frame before or after it),
// laid on the same schedule; a reply they hold back goes out when the tool's next byte reaches
// the device.
class SimPort {
public:
    explicit SimPort(std::shared_ptr<DeviceModel> model);
    ~SimPort();
    SimPort(const SimPort&) = delete;
    SimPort& operator=(const SimPort&) = delete;

    const std::string& slavePath() const { return pty_.slavePath(); }

    // 0 sends as fast as the pseudo-terminal takes bytes. A model with a line rate of its own
    // (DeviceModel::lineRate) is paced at that rate instead whenever this is not 0.
    void setBaudRate(int baud);
    // With a baud rate set, also hand the tool's bytes to the device only as fast as the line
    // carries them (at the rate the tool sends with): each is taken off the pseudo-terminal at
    // once, as a line takes what a driver has sent, so nothing the tool wrote is lost to its
    // own reopen, and the device sees each byte when it would have arrived. A model that paces
    // its own input (DeviceModel::pacesInput) is paced at its line rate without this.
    void setPaceInput(bool on);
    // The rate the tool has set its end of the pseudo-terminal to (0 if unknown).
    int toolBaudRate() const;
    // Every device reply (and what it sends on its own later) waits this long before its first
    // byte leaves.
    void setResponseDelayMs(int ms);

    void dropOutputByte(std::size_t index);
    void corruptOutputByte(std::size_t index, std::uint8_t xorMask);
    void delayOutputByte(std::size_t index, int ms);
    void resetFaults();
    // A misbehaving line from now on: random faults on what the device sends and receives, and
    // a hang-up after settings.unplugSeconds (see FaultSettings).
    void setFaults(const FaultSettings& settings);
    // The master side was closed: by hangUp() or by the fault settings' unplug.
    bool hungUp() const;

    // Sends bytes as if the device had sent them (noise, hand-made frames).
    void inject(const std::vector<std::uint8_t>& bytes);

    // Every byte the tool has sent since the last clearReceived.
    std::vector<std::uint8_t> received() const;
    void clearReceived();
    // Waits until at least n bytes have been received; false after the time-out.
    bool waitReceived(std::size_t n, int timeoutMs) const;
    // Waits until every queued output byte has been written; false after the time-out.
    bool waitOutputDrained(int timeoutMs) const;

    // Closes the master side: the tool sees a hang-up.
    void hangUp();

    // Bytes the tool sent at a rate other than the device's (they never reached the device).
    std::size_t garbledBytes() const;

private:
    struct Fault {
        enum Kind { Drop, Corrupt, Delay } kind;
        int value;
    };
    void run();
    // One reply of the device through the fault injector onto the line.
    void queueOutput(const std::vector<std::uint8_t>& bytes, int extraDelayMs);
    // Its pieces at their times: each starts when the line is free again and not before what
    // the plan says, so the line stays one transmitter at a time.
    void queuePlanLocked(const OutputPlan& plan, int extraDelayMs);
    // Hands one byte to the device; called with the mutex held.
    void deliverLocked(std::uint8_t b, Clock::time_point at, int toolRate, std::vector<std::uint8_t>& reply);
    int rateLocked() const;
    // The rate the tool's bytes are taken at (0: as fast as they come).
    int inputRateLocked() const;
    void wake();

    std::shared_ptr<DeviceModel> model_;
    Pty pty_;
    int wakeFds_[2] = {-1, -1};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stop_ = false;
    bool hangUpRequested_ = false;
    int baud_ = 0;
    int responseDelayMs_ = 0;
    bool paceInput_ = false;
    struct Arriving {
        std::uint8_t byte;
        Clock::time_point due;  // when its stop bit has arrived
        int toolRate;           // the rate the tool sent it with
    };
    std::deque<Arriving> input_;  // paced input on its way to the device
    Clock::time_point inputSlot_ {};
    std::map<std::size_t, Fault> faults_;
    std::unique_ptr<FaultInjector> injector_;
    Clock::time_point unplugAt_ = Clock::time_point::max();
    std::size_t outputIndex_ = 0;
    struct Pending {
        std::uint8_t byte;
        Clock::time_point due;
    };
    std::deque<Pending> output_;
    // Output that joins the line at its time, whatever is sent meanwhile (in order of time,
    // and of scheduling for the same time).
    std::multimap<Clock::time_point, std::vector<std::uint8_t>> scheduled_;
    Clock::time_point nextSlot_ {};
    std::vector<std::uint8_t> received_;
    std::size_t garbled_ = 0;
    std::thread thread_;
};

}  // namespace vindelor::sim
