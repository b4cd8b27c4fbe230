// The module text poll on a serial line: one exchange against a module that answers with
// chosen bytes, and the poller against the simulated module.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "modules/ModulePoll.h"
#include "sim/RegisterDevice.h"
#include "sim/SimPort.h"
#include "support/TempDir.h"
#include "util/SafeFile.h"

namespace vindelor::modules {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A module that answers every 7-byte poll request with the next reply of its script (nothing
// once the script is used up).
class ScriptedModule : public sim::DeviceModel {
public:
    void onByte(std::uint8_t, sim::Clock::time_point, Bytes& reply) override {
        std::lock_guard lock(mutex);
        if (++count % kPollRequest.size() != 0) return;
        if (script.empty()) return;
        reply = script.front();
        script.pop_front();
    }
    std::mutex mutex;
    std::size_t count = 0;
    std::deque<Bytes> script;
};

class PollExchangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        port.Open();
        port.WaitTimeout = 300;  // a silent module fails the exchange quickly here
    }
    void script(std::initializer_list<Bytes> replies) {
        std::lock_guard lock(module->mutex);
        module->script.assign(replies);
    }

    std::shared_ptr<ScriptedModule> module = std::make_shared<ScriptedModule>();
    sim::SimPort sim {module};
    serial::TSerCom port {sim.slavePath(), 19200, 8000};
};

struct ExchangeCase {
    const char* name;
    Bytes reply;
    const char* text;  // nullptr: the exchange fails
};

class PollReplies : public PollExchangeTest, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(PollReplies, GiveTheTextUpToAZeroByte) {
    script({GetParam().reply});
    if (GetParam().text) {
        EXPECT_EQ(PollExchange(port), GetParam().text);
        EXPECT_EQ(port.ReceiveCount, 0u);
    } else {
        EXPECT_THROW(PollExchange(port), serial::TSerErr);
    }
    ASSERT_TRUE(sim.waitReceived(7, 2000));
    EXPECT_EQ(sim.received(), Bytes(kPollRequest.begin(), kPollRequest.end()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PollReplies,
    ::testing::Values(
        ExchangeCase {"Hi", {0x20, 0x20, 0x20, 0x00, 0xFF, 0x02, 0xFD, 0x48, 0xB7, 0x69, 0x96, 0xAA, 0xAA}, "Hi"},
        ExchangeCase {"nothing", {0x20, 0x20, 0x20, 0x00, 0xFF, 0x00, 0xFF, 0xAA, 0xAA}, ""},
        ExchangeCase {"zero_in_the_middle",
                      {0x20, 0x20, 0x20, 0x00, 0xFF, 0x03, 0xFC, 0x41, 0xBE, 0x00, 0xFF, 0x42, 0xBD, 0xAA, 0xAA}, "A"},
        // The destination and the trailer carry nothing to show: they are not checked.
        ExchangeCase {"unchecked_destination_and_trailer",
                      {0x20, 0x20, 0x20, 0x07, 0x07, 0x01, 0xFE, 0x4F, 0xB0, 0x00, 0x00}, "O"},
        // A length or a text byte that does not match its complement was changed on the way:
        // the reply is refused rather than shown as the module's text.
        ExchangeCase {"text_pair_mismatch", {0x20, 0x20, 0x20, 0x00, 0xFF, 0x01, 0xFE, 0x4F, 0x4F, 0xAA, 0xAA}, nullptr},
        ExchangeCase {"length_pair_mismatch", {0x20, 0x20, 0x20, 0x00, 0xFF, 0x01, 0x01, 0x4F, 0xB0, 0xAA, 0xAA}, nullptr},
        ExchangeCase {"wrong_letter", {0x20, 0x21, 0x20, 0x00, 0xFF, 0x00, 0xFF, 0xAA, 0xAA}, nullptr},
        ExchangeCase {"cut_short", {0x20, 0x20, 0x20, 0x00, 0xFF, 0x02, 0xFD, 0x48}, nullptr},
        ExchangeCase {"silence", {}, nullptr}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(PollExchangeTest, AWakeUpOnlyEndsTheWaitWhenAskedTo) {
    port.WaitTimeout = 60000;
    std::atomic<bool> give_up {false};
    std::thread waker([&] {
        std::this_thread::sleep_for(50ms);
        port.WakeReader();  // not yet: the exchange goes on waiting
        std::this_thread::sleep_for(100ms);
        give_up = true;
        port.WakeReader();
    });
    const auto start = Clock::now();
    EXPECT_THROW(PollExchange(port, [&] { return give_up.load(); }), serial::TSerErr);
    waker.join();
    EXPECT_GE(Clock::now() - start, 150ms);
    EXPECT_LT(Clock::now() - start, 30s);  // far below the 60 s wait: the wake-up ended it
}

class PollerTest : public ::testing::Test {
protected:
    void SetUp() override { port.Open(); }

    std::string collected() {
        std::lock_guard lock(mutex);
        return text;
    }
    bool waitFor(const std::function<bool()>& done) {
        const auto deadline = Clock::now() + 10s;
        while (!done()) {
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    std::unique_ptr<ModulePoller> start() {
        return std::make_unique<ModulePoller>(
            port,
            [this](const std::string& t) {
                std::lock_guard lock(mutex);
                text += t;
            },
            [this](const serial::TSerErr& e) {
                std::lock_guard lock(mutex);
                failure = e.Text;
            });
    }

    std::shared_ptr<sim::RegisterDevice> device = std::make_shared<sim::RegisterDevice>();
    sim::SimPort sim {device};
    serial::TSerCom port {sim.slavePath(), 19200, 8000};
    std::mutex mutex;
    std::string text;
    std::string failure;
};

TEST_F(PollerTest, CollectsTheModulesTextInOrderAndPollsOnWhenSilent) {
    device->feedModuleText(std::string(150, 'x') + "end\r\n");
    auto poller = start();
    ASSERT_TRUE(waitFor([&] { return collected().size() == 155; }));
    const int polls = device->pollCount();
    ASSERT_TRUE(waitFor([&] { return device->pollCount() >= polls + 3; }));
    device->feedModuleText("more");
    ASSERT_TRUE(waitFor([&] { return collected().size() == 159; }));
    poller->Stop();
    EXPECT_EQ(collected(), std::string(150, 'x') + "end\r\nmore");
    EXPECT_FALSE(poller->Running());
    EXPECT_EQ(failure, "");
}

TEST_F(PollerTest, AFailedExchangeReopensThePortAndPollingGoesOn) {
    sim.corruptOutputByte(1, 0x01);  // the second letter of the first reply
    device->feedModuleText("lost");
    auto poller = start();
    ASSERT_TRUE(waitFor([&] { return device->pollCount() >= 3; }));
    device->feedModuleText("kept");
    ASSERT_TRUE(waitFor([&] { return collected().find("kept") != std::string::npos; }));
    EXPECT_TRUE(poller->Running());
    poller->Stop();
}

// A second module answers the poll too, right after this one, with text of its own: neither
// text can be told to be this module's, so neither reaches the log; later text does.
class SecondModuleAnswersPoll : public sim::DeviceModel {
public:
    explicit SecondModuleAnswersPoll(std::shared_ptr<sim::DeviceModel> inner) : inner_(std::move(inner)) {}
    void onByte(std::uint8_t b, sim::Clock::time_point at, Bytes& reply) override {
        inner_->onByte(b, at, reply);
        if (answered_ || reply.size() <= 11 || reply[0] != kPollLetter) return;
        answered_ = true;
        const Bytes other {0x20, 0x20, 0x20, 0x00, 0xFF, 0x02, 0xFD, 'N', 'N' ^ 0xFF, 'o', 'o' ^ 0xFF, 0xAA, 0xAA};
        reply.insert(reply.end(), other.begin(), other.end());
    }

private:
    std::shared_ptr<sim::DeviceModel> inner_;
    bool answered_ = false;
};

TEST(Poller, TextOfAReplyThatCameWithAnotherIsNotShown) {
    auto device = std::make_shared<sim::RegisterDevice>();
    sim::SimPort sim(std::make_shared<SecondModuleAnswersPoll>(device));
    serial::TSerCom port(sim.slavePath(), 19200, 8000);
    port.Open();
    std::mutex mutex;
    std::string text;
    device->feedModuleText("first");
    ModulePoller poller(
        port,
        [&](const std::string& t) {
            std::lock_guard lock(mutex);
            text += t;
        },
        {});
    const auto deadline = Clock::now() + 10s;
    while (poller.Doubled() == 0 && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
    device->feedModuleText("second");
    while (Clock::now() < deadline) {
        {
            std::lock_guard lock(mutex);
            if (text.find("second") != std::string::npos) break;
        }
        std::this_thread::sleep_for(5ms);
    }
    poller.Stop();
    EXPECT_EQ(text, "second");
    EXPECT_EQ(poller.Doubled(), 1);
}

TEST_F(PollerTest, StopCutsAWaitForASilentModuleShort) {
    port.WaitTimeout = 60000;
    for (std::size_t i = 0; i < 9; ++i) sim.dropOutputByte(i);  // the whole first reply
    auto poller = start();
    ASSERT_TRUE(waitFor([&] { return device->pollCount() >= 1; }));
    const auto begin = Clock::now();
    poller->Stop();
    EXPECT_LT(Clock::now() - begin, 30s);
    EXPECT_EQ(port.ReceiveCount, 0u);
    EXPECT_EQ(failure, "");
}

TEST_F(PollerTest, APortThatCannotBeReopenedEndsThePollerWithTheReason) {
    auto poller = start();
    ASSERT_TRUE(waitFor([&] { return device->pollCount() >= 2; }));
    sim.hangUp();
    ASSERT_TRUE(waitFor([&] { return !poller->Running(); }));
    std::lock_guard lock(mutex);
    EXPECT_EQ(failure, "Error opening port");
}

TEST(DumpLog, WritesTheLinesWithCrLf) {
    testing::TempDir tmp;
    const std::string path = (tmp.path() / kDumpFile).string();
    EXPECT_EQ(DumpLog(path, "one\r\ntwo\rthree\nfour"), "");
    std::vector<std::uint8_t> bytes;
    std::string reason;
    ASSERT_TRUE(util::ReadWholeFile(path, bytes, reason));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "one\r\ntwo\r\nthree\r\nfour\r\n");
    EXPECT_NE(DumpLog((tmp.path() / "no-folder" / kDumpFile).string(), "x"), "");
}

}  // namespace
}  // namespace vindelor::modules
