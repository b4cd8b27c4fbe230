#include "protocol/RecvThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "support/SimFixture.h"

namespace vindelor::protocol {
namespace {

using testing::Bytes;
using namespace std::chrono_literals;

const Bytes kValueFrame = {0x52, 0x52, 0x52, 0x00, 0xFF, 0x20, 0xDF, 0x02, 0xFD,
                           0x34, 0xCB, 0x12, 0xED, 0xAA, 0xAA};

// A reply frame with destination 0 and the given body as pairs.
// front followed by back. Built into a vector of the final size: GCC 12 at -O3 reports a false
// -Warray-bounds inside vector::insert when a short vector grows by a range.
Bytes Joined(const Bytes& front, const Bytes& back) {
    Bytes b(front.size() + back.size());
    std::copy(front.begin(), front.end(), b.begin());
    std::copy(back.begin(), back.end(), b.begin() + static_cast<std::ptrdiff_t>(front.size()));
    return b;
}

Bytes Reply(std::uint8_t letter, const Bytes& body) {
    Bytes out;
    sim::AppendReplyFrame(out, letter, body);
    return out;
}

class Decoding : public testing::SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        startThread();
    }
    std::optional<ReceivedMessage> value(std::chrono::milliseconds wait = 1000ms) {
        return sink.take(MsgRegisterValue, wait);
    }
};

TEST_F(Decoding, AValueReplyPostsRegisterAndValueAndEchoesEveryByte) {
    sim->inject(kValueFrame);
    auto m = value();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->wParam, 0x20);
    EXPECT_EQ(m->lParam, 0x1234);
    EXPECT_FALSE(m->sent);
    EXPECT_EQ(receivedEcho(), Echo(kValueFrame));
}

TEST_F(Decoding, BrokenValueRepliesPostNothing) {
    struct Case {
        const char* what;
        Bytes frame;
        std::size_t echoed;  // bytes read before the frame was given up
    };
    Bytes wrongComplement = kValueFrame;
    wrongComplement[10] = 0xCC;
    Bytes otherDestination = kValueFrame;
    otherDestination[3] = 0x01;
    otherDestination[4] = 0xFE;
    Bytes badTrailer = kValueFrame;
    badTrailer[14] = 0xAB;
    const Case cases[] = {
        {"wrong complement", wrongComplement, 11},
        {"destination other than 0", otherDestination, 5},
        {"bad trailer", badTrailer, 15},
    };
    for (const auto& c : cases) {
        sim->inject(c.frame);
        settle();
        EXPECT_FALSE(value(0ms)) << c.what;
        const std::string echo = receivedEcho();
        // Every byte read up to the fault shows in the echo.
        EXPECT_EQ(echo.substr(0, 4 * c.echoed), Echo(Bytes(c.frame.begin(), c.frame.begin() + static_cast<long>(c.echoed))))
            << c.what;
    }
}

TEST_F(Decoding, RegisterZeroPostsNothingAndReadsNoValue) {
    sim->inject({0x52, 0x52, 0x52, 0x00, 0xFF, 0x00, 0xFF, 0x02, 0xFD});
    settle();
    EXPECT_FALSE(value(0ms));
    // Then a normal frame still decodes.
    sim->inject(kValueFrame);
    EXPECT_TRUE(value());
}

TEST_F(Decoding, SixValueBytesWrapIntoThe32BitValue) {
    const Bytes b = {0x01, 0x02, 0x03, 0x04, 0xF0, 0xF1};
    sim->inject(Reply('R', {0x20, 6, b[0], b[1], b[2], b[3], b[4], b[5]}));
    auto m = value();
    ASSERT_TRUE(m);
    const std::uint32_t expected = b[0] + b[4] + 256u * (b[1] + b[5]) + 65536u * b[2] + 16777216u * b[3];
    EXPECT_EQ(static_cast<std::uint32_t>(m->lParam), expected);
}

TEST_F(Decoding, NoiseBeforeAFrameIsSkipped) {
    const Bytes stream = Joined({'R', 'R', 'x'}, kValueFrame);
    sim->inject(stream);
    auto m = value();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->lParam, 0x1234);
}

TEST_F(Decoding, AStrayLetterJoinsTheHeaderAndTheFrameIsLost) {
    const Bytes stream = Joined({'R'}, kValueFrame);
    sim->inject(stream);
    settle();
    EXPECT_FALSE(value(0ms));
}

TEST_F(Decoding, AnUnknownLetterThreeTimesIsSkippedWithoutReadingOn) {
    const Bytes stream = Joined({'Q', 'Q', 'Q'}, kValueFrame);
    sim->inject(stream);
    EXPECT_TRUE(value());
}

TEST_F(Decoding, AGapOfMoreThan100MsInsideAFrameAbandonsIt) {
    sim->delayOutputByte(9, 150);
    sim->inject(kValueFrame);
    settle();
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(value(0ms));
    // A gap within the limit is fine.
    sim->resetFaults();
    sim->delayOutputByte(9, 40);
    sim->inject(kValueFrame);
    EXPECT_TRUE(value());
}

TEST_F(Decoding, HeaderLettersMustArriveWithinTheHeaderWindow) {
    sim->delayOutputByte(2, 60);
    sim->inject(kValueFrame);
    settle();
    EXPECT_FALSE(value(0ms));
}

struct PayloadCase {
    const char* name;
    std::uint8_t letter;
    Bytes body;
    int message;       // 0: the frame is abandoned
    Bytes payload;     // what the handler receives
};

void PrintTo(const PayloadCase& c, std::ostream* os) { *os << c.name; }

class PayloadReplies : public Decoding, public ::testing::WithParamInterface<PayloadCase> {};

TEST_P(PayloadReplies, AreSentWithTheirPayloadOrAbandoned) {
    const auto& c = GetParam();
    sim->inject(Reply(c.letter, c.body));
    if (c.message == 0) {
        settle();
        auto drained = sink.drain();
        for (const auto& m : drained) EXPECT_EQ(m.number, MsgReceivedByte) << c.name;
        return;
    }
    auto m = sink.take(c.message, 1000ms);
    ASSERT_TRUE(m) << c.name;
    EXPECT_TRUE(m->sent);
    EXPECT_EQ(m->payload, c.payload);
}

Bytes Counting(std::size_t n, std::uint8_t first = 1) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(first + i);
    return b;
}

Bytes WithCount(const Bytes& payload) {
    return Joined({static_cast<std::uint8_t>(payload.size())}, payload);
}

Bytes ZeroFilled(Bytes b, std::size_t n) {
    b.resize(n, 0);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PayloadReplies,
    ::testing::Values(
        PayloadCase {"Sample", 'S', WithCount(Counting(8)), MsgSampleRow, Counting(8)},
        PayloadCase {"SampleOf100", 'S', WithCount(Counting(100)), MsgSampleRow, Counting(100)},
        PayloadCase {"SampleOver100", 'S', WithCount(Counting(101)), 0, {}},
        PayloadCase {"DebugInfoHasNoCount", '0', Counting(8), MsgDebugInfo, Counting(8)},
        PayloadCase {"Fieldbus", '@', WithCount(Counting(8)), MsgFieldbusData, Counting(8)},
        PayloadCase {"FieldbusOver100", '@', WithCount(Counting(101)), 0, {}},
        PayloadCase {"DebugData", 'C', WithCount(Counting(255, 0)), MsgDebugData, Counting(255, 0)},
        PayloadCase {"ModuleInfo", 'a', WithCount(Counting(48)), MsgModuleInfo, Counting(48)},
        PayloadCase {"ModuleInfoOver48", 'a', WithCount(Counting(49)), 0, {}},
        PayloadCase {"ModuleStatusIsZeroFilled", 'X', WithCount(Counting(8)), MsgModuleStatus,
                     ZeroFilled(Counting(8), 108)},
        PayloadCase {"ModuleStatusOver108", 'X', WithCount(Counting(109)), 0, {}},
        PayloadCase {"ModuleRegisterOver4", '[', {5, 5, 1, 2, 3, 4, 5}, 0, {}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Decoding, AModuleRegisterReplyCarriesNumberAndLittleEndianValue) {
    sim->inject(Reply('[', {0x0B, 4, 0x01, 0x00, 0x00, 0x80}));
    auto m = sink.take(MsgModuleRegister, 1000ms);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->wParam, 0x0B);
    EXPECT_EQ(m->lParam, 0x80000001);
}

TEST_F(Decoding, AFieldbusReplyOver100IsAbandonedAfterItsLengthPair) {
    Bytes frame = Reply('@', WithCount(Counting(101)));
    sim->inject(frame);
    settle();
    const std::string echo = receivedEcho();
    // Header, destination and length are read in the frame; what follows is scanned again as
    // idle bytes, of which at most 50 a second are echoed.
    EXPECT_EQ(echo.substr(0, 4 * 7), Echo(Bytes(frame.begin(), frame.begin() + 7)));
    EXPECT_FALSE(sink.take(MsgFieldbusData, 0ms));
}

TEST_F(Decoding, IdleBytesEchoOnlyFiftyPerSecond) {
    // Start just after a second of the clock begins, so that 60 bytes fall into one second.
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto intoSecond = now - std::chrono::duration_cast<std::chrono::seconds>(now);
    std::this_thread::sleep_for(1s - intoSecond + 20ms);
    Bytes noise;
    for (int i = 0; i < 60; ++i) noise.push_back(static_cast<std::uint8_t>(i % 2 ? 0x01 : 0x02));
    sim->inject(noise);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(receivedEcho().size(), 50u * 4);
}

TEST_F(Decoding, TheDownloadRequestRunsTheDownloadOnTheReceiveThread) {
    thread.reset();
    std::atomic<int> runs {0};
    std::atomic<bool> fpga {true};
    startThread([&](serial::TSerCom&, MessageSink& window, bool loadFpga) {
        fpga = loadFpga;
        ++runs;
        window.post(MsgReceivedByte, kLoadedMarker, 0);
    });
    sim->inject({'f', 'f', 'f'});
    ASSERT_TRUE(sink.take([](const ReceivedMessage& m) { return m.wParam == kLoadedMarker; }, 1000ms));
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(fpga);  // a new thread starts with LoadFpga off
}

TEST_F(Decoding, PauseLendsThePortAndResumeTakesItBack) {
    thread->Pause();
    sim->inject(kValueFrame);
    // The caller owns the port now: it reads the bytes itself, the thread decodes nothing.
    for (std::uint8_t expected : kValueFrame) EXPECT_EQ(port->WaitByte(1000), expected);
    EXPECT_FALSE(value(50ms));
    thread->Resume();
    sim->inject(kValueFrame);
    EXPECT_TRUE(value());
}

TEST_F(Decoding, APauseRightAfterAResumeWaitsForTheThreadToParkAgain) {
    // Over and over: the port must be the caller's once Pause has returned, however soon after
    // the Resume that let the thread go.
    thread->Pause();
    for (int trial = 0; trial < 200; ++trial) {
        thread->Resume();
        thread->Pause();
        sim->inject({static_cast<std::uint8_t>(trial)});
        ASSERT_EQ(port->WaitByte(1000), trial & 0xFF) << "trial " << trial;
    }
    // And the thread still answers to a Resume after all that.
    thread->Resume();
    sim->inject(kValueFrame);
    EXPECT_TRUE(value());
}

TEST_F(Decoding, StoppingAPausedThreadDoesNotHang) {
    thread->Pause();
    thread->Stop();
    EXPECT_TRUE(thread->Finished());
}

TEST_F(Decoding, APortErrorEndsTheThreadAndPauseThenReturnsAtOnce) {
    sim->hangUp();
    for (int i = 0; i < 100 && !thread->Finished(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(thread->Finished());
    thread->Pause();  // must not wait for a thread that has ended
}

TEST_F(Decoding, ThreadAndPortCanBeReplacedOverAndOver) {
    for (int i = 0; i < 10; ++i) {
        thread.reset();
        port = std::make_unique<serial::TSerCom>(sim->slavePath(), 19200, 8000);
        port->Open();
        startThread();
    }
    sim->inject(kValueFrame);
    EXPECT_TRUE(value());
}

}  // namespace
}  // namespace vindelor::protocol
