#include "protocol/Sender.h"

#include "protocol/ByteText.h"

namespace vindelor::protocol {

namespace {
std::uint8_t Low8(int v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::uint8_t Complement(std::uint8_t b) { return static_cast<std::uint8_t>(b ^ 0xFF); }
}  // namespace

Sender Sender::Capture(std::vector<std::uint8_t>& out, int address, int group) {
    Sender s;
    s.capture_ = &out;
    s.address_ = [address] { return address; };
    s.group_ = [group] { return group; };
    return s;
}

void Sender::Emit(std::uint8_t b) {
    if (capture_) {
        capture_->push_back(b);
    } else {
        if (!port_) throw serial::TSerErr(serial::TSerErr::Io, "Error sending char");
        port_->SendChar(b);
    }
    if (echo_) echo_(ByteText(b));
}

void Sender::SendByte(std::uint8_t b) { Emit(b); }

void Sender::SendPair(std::uint8_t b) {
    Emit(b);
    Emit(Complement(b));
}

void Sender::SendHeader(std::uint8_t letter) {
    SendByte(letter);
    SendByte(letter);
    SendByte(letter);
    SendPair(Low8(GetAddress()));
}

void Sender::SendGroupHeader(std::uint8_t letter) {
    SendByte(letter);
    SendByte(letter);
    SendByte(letter);
    SendPair(Low8(GetGroup()));
}

void Sender::SendTrailer() {
    SendByte(kTrailer);
    SendByte(kTrailer);
}

void Sender::SendBlock(const std::uint8_t* bytes, int count) {
    if (echo_)
        for (int i = 0; i < count; ++i) echo_(ByteText(bytes[i]));
    if (capture_) {
        capture_->insert(capture_->end(), bytes, bytes + count);
        return;
    }
    if (!port_) throw serial::TSerErr(serial::TSerErr::Io, "Error sending string");
    port_->SendString(bytes, count);
}

void Sender::SendReadRequest(std::uint8_t registerNumber) {
    const std::uint8_t address = Low8(GetAddress());
    const std::uint8_t frame[9] = {Cmd::Read,      Cmd::Read,  Cmd::Read,
                                   address,        Complement(address),
                                   registerNumber, Complement(registerNumber),
                                   kTrailer,       kTrailer};
    SendBlock(frame, sizeof frame);
}

void Sender::SendValuePairs(std::uint8_t registerNumber, int words, std::uint32_t value) {
    SendPair(registerNumber);
    const int n = Low8(2 * words);
    SendPair(static_cast<std::uint8_t>(n));
    // Least significant byte first; past four bytes the value repeats.
    for (int i = 0; i < n; ++i) SendPair(static_cast<std::uint8_t>(value >> (8 * (i % 4))));
    SendTrailer();
}

void Sender::SendWriteRequest(std::uint8_t registerNumber, int words, std::uint32_t value) {
    SendHeader(Cmd::Write);
    SendValuePairs(registerNumber, words, value);
}

void Sender::SendGroupWriteRequest(std::uint8_t registerNumber, int words, std::uint32_t value) {
    SendGroupHeader(Cmd::GroupWrite);
    SendPair(Low8(sequence_));
    SendValuePairs(registerNumber, words, value);
}

void Sender::SendCommand(std::uint8_t letter) {
    SendHeader(letter);
    SendTrailer();
}

std::vector<std::uint8_t> BuildReadRequest(int address, int registerNumber) {
    std::vector<std::uint8_t> out;
    Sender::Capture(out, address).SendReadRequest(Low8(registerNumber));
    return out;
}

std::vector<std::uint8_t> BuildWriteRequest(int address, int registerNumber, int words,
                                            std::uint32_t value) {
    std::vector<std::uint8_t> out;
    Sender::Capture(out, address).SendWriteRequest(Low8(registerNumber), words, value);
    return out;
}

std::vector<std::uint8_t> BuildGroupWriteRequest(int group, int sequence, int registerNumber,
                                                 int words, std::uint32_t value) {
    std::vector<std::uint8_t> out;
    Sender s = Sender::Capture(out, 0, group);
    s.SetSequence(sequence);
    s.SendGroupWriteRequest(Low8(registerNumber), words, value);
    return out;
}

std::vector<std::uint8_t> BuildCommand(int address, std::uint8_t letter) {
    std::vector<std::uint8_t> out;
    Sender::Capture(out, address).SendCommand(letter);
    return out;
}

}  // namespace vindelor::protocol
