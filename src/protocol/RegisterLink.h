#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "protocol/RegisterReply.h"
#include "protocol/Sender.h"
#include "serial/TSerCom.h"

namespace vindelor::protocol {

// Register requests on a port borrowed from the receive thread (paused meanwhile): each read
// waits for its own reply, so a loop over many devices or registers goes as fast as the line
// carries the frames, and a reply is only ever taken for the request that asked for it.
//
// A reply names its register but not the device that sent it (its destination is always 0).
// What a caller can do against a late answer of an earlier request is to throw away the input
// before each request (discardInput) and to give each request no more time than it needs.
// Against a second device at the same address, or a reply that arrives twice, only the line
// itself tells: ask() takes an answer as the one answer only when nothing else was on the
// line before it, around it, or for a reply's line time and a turnaround after it.
//
// What one question got from ask().
struct Answer {
    std::optional<RegisterReply> reply;  // the reply for the register asked, when one came
    // Bytes that were not that one reply: left in the input before the request, heard while
    // waiting, or arriving within the quiet time after the reply.
    std::size_t strayBytes = 0;
    std::chrono::steady_clock::time_point answeredAt;  // when the reply was in
    // The reply, and nothing but the reply.
    bool clean() const { return reply && strayBytes == 0; }
    // A reply came, but so did other bytes: a second answer, a late one, or noise.
    bool doubtful() const { return reply && strayBytes > 0; }
};

// What asking a register until it answered alone came to.
struct Reading {
    std::optional<RegisterReply> reply;  // an answer that came alone
    std::chrono::steady_clock::time_point answeredAt;  // when it was in
    int doubtful = 0;  // answers that came with other bytes, and were not taken
};

class RegisterLink {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
    static constexpr int kReadRequestBytes = 9;
    static constexpr int kByteTimeoutMs = 100;  // longest gap between the bytes of a reply

    // Bytes of the reply to a read of a register of this many words.
    static constexpr int ReadReplyBytes(int words) { return ReplyFrameBytes(2 * words); }
    // Bytes of an 'R' reply that carries this many value bytes.
    static constexpr int ReplyFrameBytes(int valueBytes) { return 3 + 2 + 2 + 2 + 2 * valueBytes + 2; }

    explicit RegisterLink(serial::TSerCom& port);

    // Each byte sent goes to the hook as one "<XX>" item, each byte read to the other.
    void setSendEcho(Sender::EchoHook hook);
    void setReceiveEcho(std::function<void(int)> hook) { receiveEcho_ = std::move(hook); }

    // The time the line takes for this many bytes at the port's baud rate.
    std::chrono::microseconds lineTime(int bytes) const;

    // Throws away everything that waits in the input now; returns how many bytes it was.
    std::size_t discardInput();
    // discardInput, and once a read has gone without its reply also whatever comes until the
    // line has been quiet for `quiet` (at most kSettleRounds times as long): that reply may
    // still be on its way and must not be taken for the answer to a later request.
    std::size_t settle(std::chrono::microseconds quiet);
    static constexpr int kSettleRounds = 10;
    // True when no byte comes within t. Bytes that do come are thrown away, and the next
    // settle() waits for a quiet line: a reply followed by more means one of them was late.
    bool quietFor(std::chrono::microseconds t);

    // Sends the read request for the register to the address and waits, at most timeout from
    // the moment the request has been handed to the port, for the start of its reply; a reply
    // that has started is read to its end. Replies for another register and broken frames are
    // passed over. Nothing when no reply for the register came in time.
    std::optional<RegisterReply> read(int address, int registerNumber,
                                      std::chrono::microseconds timeout);
    // Bytes read while waiting for the last read's reply, the reply's own included: a read
    // that got no reply but heard bytes met a broken or a foreign frame.
    std::size_t bytesHeard() const { return heard_; }
    // One question that must get one answer: the input is emptied first (what waited there is
    // counted as stray), the register is read as read() does, and after its reply the line
    // must stay quiet for the reply's line time and a turnaround (serial::QuietAfterReply).
    // Anything stray makes the next settle() wait for a quiet line.
    // With QuietAfter::Skip the quiet time is left to the caller: a reader of many registers in
    // a row lets the next question's window show whether anything followed (see ReadInTurn).
    enum class QuietAfter { Check, Skip };
    Answer ask(int address, int registerNumber, std::chrono::microseconds timeout,
               QuietAfter quietAfter = QuietAfter::Check);
    // Every byte that comes within t, echoed and counted; a byte makes the next settle() wait
    // for a quiet line.
    std::size_t strayWithin(std::chrono::microseconds t);
    // Asks up to `attempts` times until an answer comes alone, each time on a line that has
    // settled (after anything stray, quiet for `timeout`). With Silence::Ends a question that
    // got no answer at all is not asked again.
    enum class Silence { AskAgain, Ends };
    Reading readAlone(int address, int registerNumber, std::chrono::microseconds timeout,
                      int attempts, Silence silence = Silence::AskAgain);
    // The quiet time ask() keeps after a reply of this many value bytes.
    std::chrono::microseconds quietAfterReply(int valueBytes) const;
    // Writes a register; the device sends no reply.
    void write(int address, int registerNumber, int words, std::uint32_t value);
    // A header-only command ('V' write to flash, ...).
    void command(int address, std::uint8_t letter);

    serial::TSerCom& port() { return port_; }

  private:
    // The next byte, waiting until the deadline; -1 when none came. Bytes already received are
    // taken even when the deadline has passed, so a late wake-up loses nothing that arrived.
    int nextByte(Clock::time_point deadline);
    // Every byte that comes within t, echoed and counted.
    std::size_t drainFor(std::chrono::microseconds t);
    int readExpected(int expected);
    int readPair();
    void echo(int b);

    serial::TSerCom& port_;
    Sender sender_;
    int address_ = 0;
    std::size_t heard_ = 0;
    bool unanswered_ = false;  // a read went without its reply since the line was last quiet
    std::function<void(int)> receiveEcho_;
};

}  // namespace vindelor::protocol
