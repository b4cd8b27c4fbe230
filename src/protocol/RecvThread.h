#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "protocol/Messages.h"
#include "serial/TSerCom.h"
#include "util/WorkerThread.h"

namespace vindelor::protocol {

// Reads the port while the tool is idle or exchanging register frames: finds reply frames by
// their letter sent three times, checks every pair, echoes the bytes and hands each reply to the
// window thread. Other code borrows the port with Pause() and gives it back with Resume().
//
// Waiting blocks on the port with deadlines, so a reply is decoded as soon as its last byte
// is in, and an idle thread only wakes once per poll interval to look for a pause request.
class RecvThread : public util::WorkerThread {
public:
    static constexpr int kRecvPollMs = 10;       // idle wait, and how soon a pause is seen
    static constexpr int kHeaderWindowMs = 15;   // the three letters arrive within this of the first
    static constexpr int kByteTimeoutMs = 100;   // longest gap between bytes inside a frame
    static constexpr int kEchoPerSecond = 50;    // idle bytes echoed per second of the clock

    // Runs the large-motor download when the device asks for it with "fff". It runs on this
    // thread and owns the port until it returns.
    using DownloadHook =
        std::function<void(serial::TSerCom& port, MessageSink& window, bool loadFpga)>;

    RecvThread(serial::TSerCom* port, MessageSink* window, DownloadHook download = {});
    ~RecvThread() override;

    // Sets the pause request and waits until the thread has parked at the top of its loop
    // (a frame in progress is finished or abandoned first). Returns at once if the thread has
    // ended. The caller owns the port until Resume(). Called on the window thread, it hands
    // the window a reply the thread is delivering meanwhile, so neither waits for the other.
    void Pause();

    std::atomic<bool> LoadFpga {false};

    // What the thread has heard since it started: every byte it read, the bytes of the frames
    // it handed on (a reply, decoded whole), and how many such frames. The rest is stray: noise,
    // broken frames, replies of no kind it decodes. A caller that asked one question can tell
    // from two counts whether exactly its one reply came, and nothing else.
    struct Heard {
        std::uint64_t bytes = 0;
        std::uint64_t framed = 0;
        std::uint64_t frames = 0;
        std::uint64_t stray() const { return bytes - framed; }
    };
    Heard Count() const;
    // The bytes of the reply frame behind a message (its longest, where the message does not
    // tell): the line time a caller waits after it before it takes the reply as the only one.
    static int ReplyFrameBytes(int number, std::int64_t wParam);

protected:
    void Execute() override;
    void WakeForTerminate() override;

private:
    // The window as the thread (and the download it runs) sees it: a send marks the thread
    // as waiting for the window, which Pause() then serves.
    class WindowLink : public MessageSink {
    public:
        explicit WindowLink(RecvThread& owner) : owner_(owner) {}
        void post(int number, std::int64_t wParam, std::int64_t lParam) override;
        void send(const Message& message) override;

    private:
        RecvThread& owner_;
    };

    // Decodes one frame after its three letters; throws TSerErr when it breaks.
    void Decode(int letter);
    // Reads a byte within waitMs (-1 when none came); the wait between frames ends early on a
    // stop or pause request.
    int IdleRead(int waitMs, bool betweenFrames = false);
    int ReadExpected(int expected);
    int ReadPair();
    void ReadPayload(int count, std::uint8_t* out);
    void ReadTrailer();
    void Echo(int b);
    // Counts a byte read; notes a frame handed on, from its first letter to the last byte read.
    void Heard1();
    void Delivered();

    serial::TSerCom* port_;
    MessageSink* window_;
    WindowLink link_ {*this};
    DownloadHook download_;
    std::atomic<bool> pauseRequest_ {false};
    mutable std::mutex heardMutex_;
    Heard heard_;
    std::uint64_t frameStart_ = 0;  // bytes heard before the current frame's first letter
    std::int64_t echoSecond_ = -1;
    int echoCount_ = 0;
};

}  // namespace vindelor::protocol
