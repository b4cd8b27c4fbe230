#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "serial/TSerCom.h"

namespace vindelor::protocol {

// Command letters of the register protocol.
namespace Cmd {
constexpr std::uint8_t Read = 'P';
constexpr std::uint8_t Write = 'R';
constexpr std::uint8_t GroupWrite = 'Y';
constexpr std::uint8_t Sample = 'S';
constexpr std::uint8_t Reset = 'W';
constexpr std::uint8_t WriteFlash = 'V';
constexpr std::uint8_t SafeEnter = 'T';
constexpr std::uint8_t SafeExit = 'U';
}  // namespace Cmd

constexpr std::uint8_t kTrailer = 0xAA;

// The send operations every register-protocol request is built from. Each byte sent is also
// handed to the echo hook as one "<%02X>" item (the "Send" memo).
//
// A Sender writes through the port it is given, or, for building frames without a port,
// into a byte vector (capture).
class Sender {
public:
    using EchoHook = std::function<void(std::string_view item)>;
    using NumberSource = std::function<int()>;

    Sender() = default;
    // A sender that only collects the bytes, with a fixed address and group.
    static Sender Capture(std::vector<std::uint8_t>& out, int address, int group = 1);

    void setPort(serial::TSerCom* port) { port_ = port; }
    serial::TSerCom* port() const { return port_; }
    void setEcho(EchoHook echo) { echo_ = std::move(echo); }
    void setAddressSource(NumberSource source) { address_ = std::move(source); }
    void setGroupSource(NumberSource source) { group_ = std::move(source); }

    void SendByte(std::uint8_t b);
    void SendPair(std::uint8_t b);
    void SendHeader(std::uint8_t letter);
    void SendGroupHeader(std::uint8_t letter);
    void SendTrailer();
    void SendBlock(const std::uint8_t* bytes, int count);

    int GetAddress() const { return address_ ? address_() : 0; }
    int GetGroup() const { return group_ ? group_() : 0; }
    void NextSequence() { ++sequence_; }
    int Sequence() const { return sequence_; }
    void SetSequence(int sequence) { sequence_ = sequence; }

    // The requests of the register core. Failures are TSerErr from the port.
    // Read: 'P' x3, address pair, register pair, trailer, as one block.
    void SendReadRequest(std::uint8_t registerNumber);
    // Write: 'R' header, register pair, count pair (2 x words), value pairs, trailer.
    void SendWriteRequest(std::uint8_t registerNumber, int words, std::uint32_t value);
    // Group write: 'Y' group header, sequence pair, then as the write.
    void SendGroupWriteRequest(std::uint8_t registerNumber, int words, std::uint32_t value);
    // Header-only command: letter x3, address pair, trailer.
    void SendCommand(std::uint8_t letter);

private:
    void Emit(std::uint8_t b);
    void SendValuePairs(std::uint8_t registerNumber, int words, std::uint32_t value);

    serial::TSerCom* port_ = nullptr;
    std::vector<std::uint8_t>* capture_ = nullptr;
    EchoHook echo_;
    NumberSource address_;
    NumberSource group_;
    int sequence_ = 0;
};

// The same requests as bytes, for tests, tools and the simulator.
std::vector<std::uint8_t> BuildReadRequest(int address, int registerNumber);
std::vector<std::uint8_t> BuildWriteRequest(int address, int registerNumber, int words,
                                            std::uint32_t value);
std::vector<std::uint8_t> BuildGroupWriteRequest(int group, int sequence, int registerNumber,
                                                 int words, std::uint32_t value);
std::vector<std::uint8_t> BuildCommand(int address, std::uint8_t letter);

}  // namespace vindelor::protocol
