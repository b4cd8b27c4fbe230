// The module's requests on a serial line against the simulated device, byte for byte, and the
// status reply through the receive thread.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "program/VarpModule.h"
#include "protocol/QueueSink.h"
#include "protocol/RecvThread.h"
#include "protocol/Sender.h"
#include "serial/TSerCom.h"
#include "sim/RegisterDevice.h"
#include "sim/SimPort.h"

namespace vindelor::program {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kAddress = 12;
// Generous: the wait ends as soon as the frames are in; only a broken link takes this long.
constexpr auto kPatience = std::chrono::seconds(10);

class VarpWireTest : public ::testing::Test {
protected:
    void SetUp() override {
        device_->setAddress(kAddress);
        port_ = std::make_unique<serial::TSerCom>(sim_.slavePath(), 19200, 8000);
        port_->Open();
        sender_.setPort(port_.get());
        sender_.setAddressSource([] { return kAddress; });
        thread_ = std::make_unique<protocol::RecvThread>(port_.get(), &sink_);
    }
    void TearDown() override {
        thread_.reset();
        port_.reset();
    }

    // Waits until the device has taken n frames.
    std::vector<sim::Frame> Frames(std::size_t n) {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (device_->frames().size() < n && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return device_->frames();
    }

    std::shared_ptr<sim::RegisterDevice> device_ = std::make_shared<sim::RegisterDevice>();
    sim::SimPort sim_ {device_};
    std::unique_ptr<serial::TSerCom> port_;
    protocol::Sender sender_;
    protocol::QueueSink sink_;
    std::unique_ptr<protocol::RecvThread> thread_;
};

TEST_F(VarpWireTest, PingModuleReachesTheDeviceAsFrame95) {
    SendPingModule(sender_);
    const auto frames = Frames(1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].letter, 95);
    EXPECT_EQ(frames[0].destination, kAddress);
    EXPECT_TRUE(frames[0].body.empty());
}

TEST_F(VarpWireTest, GetInfoIsAnsweredWithTheStatusShownAsText) {
    device_->setModuleInfo({9, 0x10, 0x00, 3, 0, 0, 0x05, 0x01});
    EXPECT_EQ(SendGetInfo(sender_, kNoCommandChosen, {}), kCmdNop);
    const auto reply = sink_.take(protocol::MsgModuleInfo, kPatience);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(VarpStatusText(reply->payload),
              "Program state\t: 9\rProgram pointer\t: 16\rStack pointer\t: 3\r"
              "Inputs\t: 0b0000'0001'0000'0101\r");
    const auto frames = Frames(1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].letter, 97);
    EXPECT_EQ(frames[0].body, (Bytes {1, 0xFF}));
}

TEST_F(VarpWireTest, GetInfoWithSetOutputsCarriesTheOutputsByte) {
    EXPECT_EQ(SendGetInfo(sender_, kCmdSetOutputs, {true, false, true, false}), kCmdSetOutputs);
    const auto frames = Frames(1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].letter, 97);
    EXPECT_EQ(frames[0].body, (Bytes {2, 5, 0xA5}));
}

TEST_F(VarpWireTest, WriteProgramChunksArriveInOrder) {
    Bytes image(300);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i);
    // Pauses are left out here; the chunking tests count them.
    EXPECT_EQ(SendProgramImage(sender_, image, {}), 3u);
    const auto frames = Frames(3);
    ASSERT_EQ(frames.size(), 3u);
    Bytes joined;
    const std::size_t lengths[] = {128, 128, 44};
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(frames[k].letter, 98);
        EXPECT_EQ(frames[k].destination, kAddress);
        ASSERT_EQ(frames[k].body.size(), lengths[k] + 2);
        EXPECT_EQ(frames[k].body[0], lengths[k] + 1);
        EXPECT_EQ(frames[k].body[1], k);
        joined.insert(joined.end(), frames[k].body.begin() + 2, frames[k].body.end());
    }
    EXPECT_EQ(joined, image);
}

}  // namespace
}  // namespace vindelor::program
