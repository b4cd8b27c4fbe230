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
#include "sim/Pty.h"

namespace vindelor::sim {

// Runs a device model on the master side of a pseudo-terminal, in a thread of its own.
//
// Line rate: with a baud rate set, every byte the device sends takes 10 bit times, paced
// against an absolute schedule so that the sum stays right however the thread is woken.
// Faults: a chosen byte of the device's output (counted from 0 since the last resetFaults) can
// be dropped, corrupted or delayed.
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
    // With a baud rate set, also take the tool's bytes only as fast as the line carries them:
    // they wait in the pseudo-terminal (where a reopen of the port drops them, as a purge
    // would) and the device sees each one when it would have arrived. A model that paces its
    // own input (DeviceModel::pacesInput) is paced at its line rate without this.
    void setPaceInput(bool on);
    // The rate the tool has set its end of the pseudo-terminal to (0 if unknown).
    int toolBaudRate() const;
    // Every device reply waits this long before its first byte leaves.
    void setResponseDelayMs(int ms);

    void dropOutputByte(std::size_t index);
    void corruptOutputByte(std::size_t index, std::uint8_t xorMask);
    void delayOutputByte(std::size_t index, int ms);
    void resetFaults();

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
    void queueOutput(const std::vector<std::uint8_t>& bytes, int extraDelayMs);
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
    double inputCredit_ = 0;  // bytes the line has carried and the device not yet taken
    Clock::time_point creditAt_ {};
    bool lineBusy_ = false;  // bytes were still waiting after the last read
    std::map<std::size_t, Fault> faults_;
    std::size_t outputIndex_ = 0;
    struct Pending {
        std::uint8_t byte;
        Clock::time_point due;
    };
    std::deque<Pending> output_;
    Clock::time_point nextSlot_ {};
    std::vector<std::uint8_t> received_;
    std::size_t garbled_ = 0;
    std::thread thread_;
};

}  // namespace vindelor::sim
