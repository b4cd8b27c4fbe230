// The module's requests as bytes, the status text, and "Write Program" with its chunks.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "program/TVarpCode.h"
#include "program/VarpError.h"
#include "program/VarpModule.h"
#include "support/TempDir.h"

namespace vindelor::program {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kAddress = 7;

// A frame as the sender writes it: the letter three times, the address pair, data pairs, trailer.
Bytes Frame(std::uint8_t letter, const Bytes& data, int address = kAddress) {
    Bytes out = {letter, letter, letter, static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(~address)};
    for (std::uint8_t b : data) {
        out.push_back(b);
        out.push_back(static_cast<std::uint8_t>(~b));
    }
    out.push_back(0xAA);
    out.push_back(0xAA);
    return out;
}

TEST(VarpStatus, ShowsTheFourLinesOfAStatusReply) {
    const Bytes reply = {1, 0x34, 0x12, 2, 0xEE, 0xEE, 0x12, 0x80};
    EXPECT_EQ(VarpStatusText(reply),
              "Program state\t: Running\rProgram pointer\t: 4660\rStack pointer\t: 2\r"
              "Inputs\t: 0b1000'0000'0001'0010\r");
}

TEST(VarpStatus, NamesEveryStateAndShowsOthersAsNumbers) {
    const std::pair<int, const char*> states[] = {
        {0, "Passive"},        {1, "Running"},          {2, "Single stepping"}, {3, "Paused"},
        {4, "Stack overflow"}, {5, "Program overflow"}, {6, "Invalid Command"}, {7, "Stopped"},
        {8, "8"},              {9, "9"},                {255, "255"},
    };
    for (const auto& [state, text] : states) {
        const Bytes reply = {static_cast<std::uint8_t>(state), 0, 0, 0, 0, 0, 0, 0};
        EXPECT_EQ(VarpStatusText(reply).substr(0, VarpStatusText(reply).find('\r')),
                  std::string("Program state\t: ") + text);
    }
}

TEST(VarpStatus, StateNineShowsItsNumber) {
    const Bytes reply = {9, 0, 0, 0, 0, 0, 0x12, 0x00};
    EXPECT_EQ(VarpStatusText(reply), "Program state\t: 9\rProgram pointer\t: 0\rStack pointer\t: 0\r"
                                     "Inputs\t: 0b0000'0000'0001'0010\r");
}

TEST(VarpStatus, ShortReplyReadsMissingBytesAsZero) {
    EXPECT_EQ(VarpStatusText(Bytes {7, 0xFF}),
              "Program state\t: Stopped\rProgram pointer\t: 255\rStack pointer\t: 0\r"
              "Inputs\t: 0b0000'0000'0000'0000\r");
    EXPECT_EQ(VarpStatusText(Bytes {}).substr(0, 24), "Program state\t: Passive\r");
}

TEST(VarpRequests, PingModuleIsAHeaderOnlyRequest) {
    Bytes out;
    auto sender = protocol::Sender::Capture(out, kAddress);
    SendPingModule(sender);
    EXPECT_EQ(out, Frame(95, {}));
}

TEST(VarpRequests, GetInfoSendsTheChosenCommandAndFallsBackToNop) {
    struct Case {
        int index;
        std::uint8_t code;
    };
    const Case cases[] = {{-1, 0xFF}, {0, 0}, {1, 1}, {4, 4}, {6, 6}};
    for (const Case& c : cases) {
        Bytes out;
        auto sender = protocol::Sender::Capture(out, kAddress);
        EXPECT_EQ(SendGetInfo(sender, c.index, {true, false, false, false}), kCmdNop) << c.index;
        EXPECT_EQ(out, Frame(97, {1, c.code})) << c.index;
    }
}

TEST(VarpRequests, GetInfoWithNothingChosenSends0xFF) {
    Bytes out;
    auto sender = protocol::Sender::Capture(out, 255);
    EXPECT_EQ(SendGetInfo(sender, kNoCommandChosen, {}), kCmdNop);
    EXPECT_EQ(out, (Bytes {0x61, 0x61, 0x61, 0xFF, 0x00, 0x01, 0xFE, 0xFF, 0x00, 0xAA, 0xAA}));
}

TEST(VarpRequests, GetInfoWithSetOutputsSendsTheOutputsByteAndKeepsTheChoice) {
    struct Case {
        std::array<bool, 4> outputs;
        std::uint8_t byte;
    };
    const Case cases[] = {
        {{false, false, false, false}, 0xF0},
        {{true, false, false, false}, 0xE1},
        {{false, true, false, true}, 0x5A},
        {{true, true, true, true}, 0x0F},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OutputsByte(c.outputs), c.byte);
        Bytes out;
        auto sender = protocol::Sender::Capture(out, kAddress);
        EXPECT_EQ(SendGetInfo(sender, kCmdSetOutputs, c.outputs), kCmdSetOutputs);
        EXPECT_EQ(out, Frame(97, {2, 5, c.byte}));
    }
}

TEST(VarpRequests, CommandNamesAreTheBoxItemsInCodeOrder) {
    EXPECT_EQ(kVarpCommandNames.at(kCmdSetOutputs), "Set outputs");
    EXPECT_EQ(kVarpCommandNames.at(kCmdRestartCommunication), "Restart communication");
    EXPECT_EQ(kVarpCommandNames.at(kCmdSingleStep), "Single Step");
}

// Chunking: every chunk is one 98 request, followed by the pause.
struct ChunkCase {
    const char* name;
    std::size_t size;
    std::size_t chunks;
};
void PrintTo(const ChunkCase& c, std::ostream* os) { *os << c.name; }


class ChunkingTest : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(ChunkingTest, SplitsTheImageIntoNumberedChunks) {
    const ChunkCase& c = GetParam();
    Bytes image(c.size);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    Bytes out;
    auto sender = protocol::Sender::Capture(out, kAddress);
    std::vector<std::chrono::milliseconds> pauses;
    EXPECT_EQ(SendProgramImage(sender, image, [&](std::chrono::milliseconds ms) { pauses.push_back(ms); }), c.chunks);
    EXPECT_EQ(pauses, std::vector<std::chrono::milliseconds>(c.chunks, std::chrono::milliseconds(50)));

    Bytes expected;
    for (std::size_t k = 0; k < c.chunks; ++k) {
        const std::size_t at = k * 128;
        const std::size_t length = std::min<std::size_t>(128, c.size - at);
        Bytes data = {static_cast<std::uint8_t>(length + 1), static_cast<std::uint8_t>(k & 0xFF)};
        data.insert(data.end(), image.begin() + static_cast<std::ptrdiff_t>(at),
                    image.begin() + static_cast<std::ptrdiff_t>(at + length));
        const Bytes frame = Frame(98, data);
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(out, expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ChunkingTest,
                         ::testing::Values(ChunkCase {"Empty", 0, 0}, ChunkCase {"One", 1, 1},
                                           ChunkCase {"ExactlyOneChunk", 128, 1},
                                           ChunkCase {"OneByteMore", 129, 2},
                                           ChunkCase {"IndexesWrapPast256Chunks", 32769, 257}),
                         [](const ::testing::TestParamInfo<ChunkCase>& param) { return param.param.name; });

TEST(Chunking, LengthBytesAndIndexesAtTheEdges) {
    // 129 bytes: lengths 129 and 2, indexes 0 and 1.
    Bytes out;
    auto sender = protocol::Sender::Capture(out, kAddress);
    SendProgramImage(sender, Bytes(129, 0x11), {});
    ASSERT_EQ(out.size(), 2u * 5 + 2 * (2 + 128) + 2 * (2 + 1) + 2 * 2);
    EXPECT_EQ(out[5], 129);
    EXPECT_EQ(out[7], 0);
    const std::size_t second = 5 + 2 * 130 + 2;
    EXPECT_EQ(out[second + 5], 2);
    EXPECT_EQ(out[second + 7], 1);

    // 32 769 bytes: chunk 256 goes out with index 0 and length 2.
    Bytes big;
    auto bigSender = protocol::Sender::Capture(big, kAddress);
    SendProgramImage(bigSender, Bytes(32769, 0x22), {});
    const std::size_t fullFrame = 5 + 2 * 130 + 2;
    EXPECT_EQ(big.size(), 256 * fullFrame + 5 + 2 * 3 + 2);
    EXPECT_EQ(big[256 * fullFrame + 5], 2);
    EXPECT_EQ(big[256 * fullFrame + 7], 0);
    EXPECT_EQ(big[255 * fullFrame + 7], 255);
}

class WriteProgramTest : public ::testing::Test {
protected:
    std::string WriteFile(const std::string& name, const Bytes& bytes) { return tmp_.write(name, bytes); }

    testing::TempDir tmp_;
    const std::filesystem::path& dir_ = tmp_.path();
    const std::string log_ = tmp_.file("VarpWare.Log");
    Bytes sent_;
    protocol::Sender sender_ = protocol::Sender::Capture(sent_, kAddress);
    int pauses_ = 0;
    ChunkPause pause_ = [this](std::chrono::milliseconds) { ++pauses_; };
};

TEST_F(WriteProgramTest, SendsTheFileAndWritesTheSampleProgramLog) {
    const std::string program = WriteFile("prog.bin", Bytes(200, 0x5A));
    EXPECT_EQ(WriteProgram(sender_, program, log_, pause_), 2u);
    EXPECT_EQ(pauses_, 2);
    EXPECT_EQ(sent_.size(), (5 + 2 * 130 + 2) + (5 + 2 * 74 + 2));
    // The log is the sample program's, nothing of which is sent.
    std::ifstream in(log_, std::ios::binary);
    const std::string log {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_NE(log.find("006:000C: 0x60 0xF2 Jump condition: 0 Rel: 0xF2 (-14 dec)\r\n"), std::string::npos);
    EXPECT_EQ(log.substr(log.size() - 13), "None found :D");
}

TEST_F(WriteProgramTest, EmptyFileSendsNothingButStillWritesTheLog) {
    const std::string program = WriteFile("empty.bin", {});
    EXPECT_EQ(WriteProgram(sender_, program, log_, pause_), 0u);
    EXPECT_TRUE(sent_.empty());
    EXPECT_EQ(pauses_, 0);
    EXPECT_TRUE(std::filesystem::file_size(log_) > 0);
}

TEST_F(WriteProgramTest, MissingProgramFileIsAnErrorAndNothingIsSent) {
    const std::string missing = (dir_ / "missing.bin").string();
    try {
        WriteProgram(sender_, missing, log_, pause_);
        FAIL() << "no error";
    } catch (const VarpError& e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    }
    EXPECT_TRUE(sent_.empty());
}

TEST_F(WriteProgramTest, FolderGivenAsProgramFileIsAnErrorAndNothingIsSent) {
    EXPECT_THROW(WriteProgram(sender_, dir_.string(), log_, pause_), VarpError);
    EXPECT_TRUE(sent_.empty());
}

TEST_F(WriteProgramTest, LogThatCannotBeWrittenIsAnErrorAndNothingIsSent) {
    const std::string program = WriteFile("prog.bin", Bytes(10, 1));
    const std::string badLog = (dir_ / "no-such-folder" / "VarpWare.Log").string();
    EXPECT_THROW(WriteProgram(sender_, program, badLog, pause_), VarpError);
    EXPECT_TRUE(sent_.empty());
}

TEST_F(WriteProgramTest, SampleProgramIsTheFourteenByteImage) {
    EXPECT_EQ(BuildSampleProgram(log_),
              (Bytes {0x05, 0x35, 0x62, 0x02, 0x08, 0x11, 0x05, 0x34, 0x62, 0xF6, 0x08, 0x01, 0x60, 0xF2}));
}

}  // namespace
}  // namespace vindelor::program
