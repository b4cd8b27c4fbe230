// The traffic trace end to end: the tap of the port sees what the sender and the receive
// thread exchange with the simulated device, and the trace file shows it frame by frame.
#include <gtest/gtest.h>

#include <fstream>

#include "protocol/TraceFile.h"
#include "protocol/TraceWriter.h"
#include "support/SimFixture.h"
#include "support/TempDir.h"

namespace vindelor::e2e {
namespace {

using namespace std::chrono_literals;

class Trace : public testing::SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        std::string error;
        writer = protocol::TraceWriter::Create(dir.file("trace.txt"), "port test", error);
        ASSERT_TRUE(writer) << error;
        port->SetTap(writer.get());
        startThread();
    }
    void TearDown() override {
        SimFixture::TearDown();  // the port goes before the tap it uses
        writer.reset();
    }

    bool awaitRegister(int reg) {
        return sink.take([reg](const protocol::ReceivedMessage& r) {
                   return r.number == protocol::MsgRegisterValue && r.wParam == reg;
               }, 1000ms).has_value();
    }

    // The frame lines of the finished trace as "TX|RX bytes | text", and the comments.
    std::vector<std::string> frames;
    std::vector<std::string> comments;
    void finish() {
        settle();
        writer->finish();
        std::ifstream in(dir.file("trace.txt"));
        std::string line;
        std::int64_t last = -1;
        while (std::getline(in, line)) {
            if (line.starts_with("#")) {
                comments.push_back(line);
                continue;
            }
            std::string error;
            auto f = protocol::ParseTraceLine(line, error);
            ASSERT_TRUE(f) << line << ": " << error;
            EXPECT_GE(f->micros, last) << "lines in the order their frames began";
            last = f->micros;
            frames.push_back(line.substr(line.find(' ') + 1));
        }
    }

    testing::TempDir dir;
    std::unique_ptr<protocol::TraceWriter> writer;
};

TEST_F(Trace, RegisterReadAndWriteAreTracedAndDecoded) {
    device->setValue(0x20, 0x1234);
    sender.SendReadRequest(0x20);
    ASSERT_TRUE(awaitRegister(0x20));
    sender.SendWriteRequest(0x21, 1, 0x0506);
    sender.SendReadRequest(0x21);
    ASSERT_TRUE(awaitRegister(0x21));
    finish();
    EXPECT_EQ(frames, (std::vector<std::string> {
                          "TX 50 50 50 FF 00 20 DF AA AA | read request reg 0x20 dest 255",
                          "RX 52 52 52 00 FF 20 DF 02 FD 34 CB 12 ED AA AA | register reply 0x20 = 4660",
                          "TX 52 52 52 FF 00 21 DE 02 FD 06 F9 05 FA AA AA | write request reg 0x21 = 1286 (2 bytes) dest 255",
                          "TX 50 50 50 FF 00 21 DE AA AA | read request reg 0x21 dest 255",
                          "RX 52 52 52 00 FF 21 DE 02 FD 06 F9 05 FA AA AA | register reply 0x21 = 1286",
                      }));
    ASSERT_GE(comments.size(), 3u);
    EXPECT_EQ(comments[0], "# Vindelor traffic trace, format 1");
    EXPECT_TRUE(comments[1].starts_with("# start 20")) << comments[1];
    EXPECT_EQ(comments[2], "# port test");
    EXPECT_TRUE(comments.back().ends_with(" end")) << comments.back();
}

TEST_F(Trace, NoiseBytesShowAsNoiseAndTheFrameAfterThemIsDecoded) {
    sim->inject({0x52, 0x52, 0x78});
    std::this_thread::sleep_for(150ms);  // the receive thread has read and dropped them
    device->setValue(0x20, 7);
    sender.SendReadRequest(0x20);
    ASSERT_TRUE(awaitRegister(0x20));
    finish();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0], "RX 52 52 78 | noise 3 bytes");
    EXPECT_EQ(frames[2], "RX 52 52 52 00 FF 20 DF 02 FD 07 F8 00 FF AA AA | register reply 0x20 = 7");
}

TEST_F(Trace, AHangUpIsWrittenAsALineEvent) {
    sim->hangUp();
    std::this_thread::sleep_for(100ms);
    finish();
    bool hangUp = false;
    for (const auto& c : comments) hangUp |= c.ends_with(" hang-up");
    EXPECT_TRUE(hangUp);
}

}  // namespace
}  // namespace vindelor::e2e
