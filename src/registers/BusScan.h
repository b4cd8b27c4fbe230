#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/RegisterLink.h"
#include "registers/Definitions.h"

namespace vindelor::registers {

// Finding the devices on an RS-485 line: every address of a range is asked for one register
// (the FIRMWARE register of the chosen device type) and given only as long as the line needs
// for the request and the longest reply, plus a margin for the device's turnaround and the
// adapter. 255 reaches every device at once, so a scan stops at 254 unless told otherwise.
//
// A device slower than that margin answers into the next address's time. A reply names its
// register but not its sender, so such an answer cannot be told from the next address's own;
// instead the scan throws away the input before each request, and afterwards asks every
// address that answered, and the addresses before any late or broken bytes, once more with
// plenty of time and a quiet line, twice, each answer alone on the line: only an address whose
// two answers agree is reported, so a late answer of another address cannot make a device
// appear where there is none. When the second question finds an answer was not the address's
// own, the addresses before it are asked too, so the slow device is found where it is; an
// address that answered first but not then is asked once more at the end. An address whose
// answers always come with a second one is reported apart: two devices answer there, as when
// a new drive came with its factory address.
struct ScanOptions {
    static constexpr int kDefaultMarginMs = 3;
    static constexpr int kLastOwnAddress = 254;

    int from = 0;
    int to = kLastOwnAddress;
    int registerNumber = 0;
    int marginMs = kDefaultMarginMs;
    // Called before each address of the first pass, with the address.
    std::function<void(int)> progress;
    // Asked before each request; a scan that is cancelled still checks what it found so far.
    std::function<bool()> cancelled;
};

struct ScanHit {
    int address = 0;
    protocol::RegisterReply reply;
};

struct ScanOutcome {
    std::vector<ScanHit> found;  // by address
    bool cancelled = false;
    int lateReplies = 0;  // times bytes came late, or broken, at an address
    std::vector<int> twoAnswers;  // addresses where more than one device answers
};

// The wait at each address: the line time of a read request and of a two-word reply, plus the
// margin.
std::chrono::microseconds ScanTimePerAddress(const protocol::RegisterLink& link, int marginMs);
// How long the second question waits for an answer.
std::chrono::microseconds ScanConfirmTime(const protocol::RegisterLink& link, int marginMs);

ScanOutcome ScanBus(protocol::RegisterLink& link, const ScanOptions& options);

// "Two devices answer at address 5: give one of them another address"
std::string TwoDevicesText(int address);

// What the definitions tell about a device that answered: the device type whose ADDRESS
// register, read by that type's register number and width, holds the device's own address,
// and that type's FIRMWARE register. The preferred type is tried first. 0 and nothing when no
// type fits (definitions that could not be loaded are null and tried for nothing).
struct DeviceIdentity {
    int deviceType = 0;
    std::optional<std::uint32_t> firmware;
};
DeviceIdentity IdentifyDevice(protocol::RegisterLink& link, int address,
                              const std::array<const Definitions*, 4>& definitions,
                              int preferredType, std::chrono::microseconds timeout);

// The firmware to show for a device found: its own type's FIRMWARE register where that
// answered; the register the scan read where the device is of the type scanned for, or of no
// type that could be told (what the scan asked for is then all there is); nothing where it is
// of another type whose FIRMWARE did not answer (the scan's register is not its firmware).
std::optional<std::uint32_t> ShownFirmware(const DeviceIdentity& id, const ScanHit& hit,
                                          int scannedType);

}  // namespace vindelor::registers
