#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace vindelor::protocol {

// A register value reply ('R' frame) as the decoder hands it on.
struct RegisterReply {
    int registerNumber = 0;
    int length = 0;  // value bytes the device sent (after the cut to kMaxRegisterValueBytes)
    std::uint32_t value = 0;
};

// Longer 'R' values are cut to this many bytes.
constexpr int kMaxRegisterValueBytes = 100;

// Reads what follows the destination pair of an 'R' reply: the register pair, the length pair,
// the value pairs (least significant byte first; past four bytes a byte adds in again at its
// place modulo four) and the trailer. A reply for register 0 carries nothing more: nothing
// further is read and nothing is returned. readPair returns the first byte of a checked pair,
// readTrailer checks 0xAA 0xAA; both throw when the frame breaks.
//
// The receive thread and the exchanges on a borrowed port decode replies with this one piece.
std::optional<RegisterReply> ReadRegisterReplyBody(const std::function<int()>& readPair,
                                                   const std::function<void()>& readTrailer);

}  // namespace vindelor::protocol
