// Cutting traffic into frames and decoding them for the trace, and the trace line format.
#include <gtest/gtest.h>

#include <sstream>

#include "protocol/TraceFile.h"
#include "protocol/TraceFramer.h"

namespace vindelor::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr auto Tx = TraceDirection::Tx;
constexpr auto Rx = TraceDirection::Rx;

struct DecodeCase {
    TraceDirection direction;
    Bytes bytes;
    std::string text;
};

class DecodesOneFrame : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodesOneFrame, AsOneLine) {
    const auto& c = GetParam();
    EXPECT_EQ(DescribeTraceFrame(c.direction, c.bytes), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, DecodesOneFrame,
    ::testing::Values(
        DecodeCase {Tx, {0x50, 0x50, 0x50, 0xFF, 0x00, 0x20, 0xDF, 0xAA, 0xAA}, "read request reg 0x20 dest 255"},
        DecodeCase {Tx, {0x52, 0x52, 0x52, 0xFF, 0x00, 0x20, 0xDF, 0x02, 0xFD, 0x34, 0xCB, 0x12, 0xED, 0xAA, 0xAA},
                    "write request reg 0x20 = 4660 (2 bytes) dest 255"},
        DecodeCase {Tx, {0x59, 0x59, 0x59, 0x01, 0xFE, 0x07, 0xF8, 0x0C, 0xF3, 0x02, 0xFD, 0x6F, 0x90, 0x00, 0xFF, 0xAA, 0xAA},
                    "group write reg 0x0C = 111 (2 bytes) group 1 seq 7"},
        DecodeCase {Tx, {0x53, 0x53, 0x53, 0x05, 0xFA, 0xAA, 0xAA}, "sample request dest 5"},
        DecodeCase {Tx, {0x57, 0x57, 0x57, 0xFF, 0x00, 0xAA, 0xAA}, "software reset dest 255"},
        DecodeCase {Tx, {0x51, 0x51, 0x51, 0xFF, 0x00, 0xAA, 0xAA}, "command 'Q' dest 255"},
        DecodeCase {Rx, {0x52, 0x52, 0x52, 0x00, 0xFF, 0x20, 0xDF, 0x02, 0xFD, 0x34, 0xCB, 0x12, 0xED, 0xAA, 0xAA},
                    "register reply 0x20 = 4660"},
        DecodeCase {Rx, {0x52, 0x52, 0x52, 0x01, 0xFE, 0x20, 0xDF, 0x02, 0xFD, 0x34, 0xCB, 0x12, 0xED, 0xAA, 0xAA},
                    "register reply 0x20 = 4660 dest 1"},
        DecodeCase {Rx, {0x53, 0x53, 0x53, 0x00, 0xFF, 0x02, 0xFD, 0x01, 0xFE, 0x02, 0xFD, 0xAA, 0xAA}, "sample reply 2 bytes"},
        DecodeCase {Rx, {0x66, 0x66, 0x66}, "download request"},
        // The module text poll's letter is the blank.
        DecodeCase {Tx, {0x20, 0x20, 0x20, 0xFF, 0x00, 0xAA, 0xAA}, "text poll dest 255"},
        DecodeCase {Rx, {0x20, 0x20, 0x20, 0x00, 0xFF, 0x02, 0xFD, 0x48, 0xB7, 0x69, 0x96, 0xAA, 0xAA},
                    "text poll reply 2 bytes"},
        DecodeCase {Rx, {0x20, 0x20, 0x20, 0x00, 0xFF, 0x00, 0xFF, 0xAA, 0xAA}, "text poll reply 0 bytes"},
        DecodeCase {Rx, {0xA4, 0x01, 0x00, 0x5B}, "bootloader reply 4 status 0"},
        DecodeCase {Rx, {0xA8, 0x04, 0x01, 0x02, 0x00, 0x05, 0x4C}, "bootloader reply 8 status 1"},
        DecodeCase {Tx, {0xA2, 0x01, 0x07, 0x56}, "bootloader command 2, 1 byte"},
        // One complement wrong: no frame.
        DecodeCase {Rx, {0x52, 0x52, 0x52, 0x00, 0xFF, 0x20, 0xDE, 0x02, 0xFD, 0xAA, 0xAA}, "noise 11 bytes"},
        DecodeCase {Rx, {0x01, 0x02, 0x03}, "noise 3 bytes"},
        DecodeCase {Tx, {0x0D}, "data 1 byte"}));

std::vector<TraceFrame> Cut(TraceDirection d, const std::vector<std::pair<std::int64_t, Bytes>>& chunks, bool flush) {
    TraceFramer framer(d);
    std::vector<TraceFrame> out;
    for (const auto& [t, bytes] : chunks) framer.add(t, bytes, out);
    if (flush) framer.flush(out);
    return out;
}

const Bytes kReply {0x52, 0x52, 0x52, 0x00, 0xFF, 0x20, 0xDF, 0x02, 0xFD, 0x34, 0xCB, 0x12, 0xED, 0xAA, 0xAA};

TEST(TraceFramer, ReleasesAFrameAsSoonAsItsLastByteIsInWithTheTimeOfItsFirst) {
    std::vector<std::pair<std::int64_t, Bytes>> chunks;
    for (std::size_t i = 0; i < kReply.size(); ++i) chunks.push_back({100 + static_cast<std::int64_t>(i), {kReply[i]}});
    auto frames = Cut(Rx, chunks, false);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, kReply);
    EXPECT_EQ(frames[0].micros, 100);
    EXPECT_EQ(frames[0].text, "register reply 0x20 = 4660");
}

TEST(TraceFramer, NoiseBeforeAFrameIsOneNoiseLineThenTheFrame) {
    // "R R x" and then a reply: the noise may even begin like a frame.
    Bytes bytes {0x52, 0x52, 0x78};
    bytes.insert(bytes.end(), kReply.begin(), kReply.end());
    bytes.insert(bytes.end(), kReply.begin(), kReply.end());
    auto frames = Cut(Rx, {{5, bytes}}, false);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].bytes, (Bytes {0x52, 0x52, 0x78}));
    EXPECT_EQ(frames[0].text, "noise 3 bytes");
    EXPECT_EQ(frames[1].bytes, kReply);
    EXPECT_EQ(frames[2].bytes, kReply);
}

TEST(TraceFramer, CutsATracedPollIntoItsRequestsAndReplies) {
    const Bytes request {0x20, 0x20, 0x20, 0xFF, 0x00, 0xAA, 0xAA};
    const Bytes hi {0x20, 0x20, 0x20, 0x00, 0xFF, 0x02, 0xFD, 0x48, 0xB7, 0x69, 0x96, 0xAA, 0xAA};
    const Bytes nothing {0x20, 0x20, 0x20, 0x00, 0xFF, 0x00, 0xFF, 0xAA, 0xAA};
    Bytes sent = request;
    sent.insert(sent.end(), request.begin(), request.end());
    auto requests = Cut(Tx, {{0, sent}}, false);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].bytes, request);
    Bytes received = hi;
    received.insert(received.end(), nothing.begin(), nothing.end());
    auto replies = Cut(Rx, {{0, received}}, false);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].bytes, hi);
    EXPECT_EQ(replies[0].text, "text poll reply 2 bytes");
    EXPECT_EQ(replies[1].bytes, nothing);
}

TEST(TraceFramer, AnIncompleteFrameWaitsThenGoesOutAsNoiseAfterAGapOrAtTheEnd) {
    const Bytes head(kReply.begin(), kReply.begin() + 6);
    EXPECT_TRUE(Cut(Rx, {{0, head}}, false).empty());
    auto atEnd = Cut(Rx, {{0, head}}, true);
    ASSERT_EQ(atEnd.size(), 1u);
    EXPECT_EQ(atEnd[0].text, "noise 6 bytes");

    auto afterGap = Cut(Rx, {{0, head}, {TraceFramer::kGapMicros + 1, kReply}}, false);
    ASSERT_EQ(afterGap.size(), 2u);
    EXPECT_EQ(afterGap[0].text, "noise 6 bytes");
    EXPECT_EQ(afterGap[1].text, "register reply 0x20 = 4660");
    EXPECT_EQ(afterGap[1].micros, TraceFramer::kGapMicros + 1);
}

TEST(TraceFramer, LongNoiseIsSplitIntoLinesOfBoundedLength) {
    auto frames = Cut(Rx, {{0, Bytes(150, 0x11)}}, true);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].bytes.size(), TraceFramer::kMaxNoiseLine);
    EXPECT_EQ(frames[2].text, "noise 22 bytes");
}

TEST(TraceFile, LineRoundTripsAndReadsInAnyLocale) {
    TraceFrame f {441, Tx, {0x50, 0x50, 0x50, 0xFF, 0x00, 0x20, 0xDF, 0xAA, 0xAA}, "read request reg 0x20 dest 255"};
    const std::string line = FormatTraceLine(f);
    EXPECT_EQ(line, "0.000441 TX 50 50 50 FF 00 20 DF AA AA | read request reg 0x20 dest 255");
    std::string error;
    auto back = ParseTraceLine(line, error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->micros, 441);
    EXPECT_EQ(back->direction, Tx);
    EXPECT_EQ(back->bytes, f.bytes);
    EXPECT_EQ(back->text, f.text);
    EXPECT_EQ(FormatTime(12'000'441), "12.000441");
}

TEST(TraceFile, BadLinesAreRefusedWithAReason) {
    for (const char* line : {"0.1 TX 50 | x", "0.000001 TZ 50 | x", "0.000001 TX 5 | x", "0.000001 TX 50 51",
                             "0.000001 TX | x", "abc TX 50 | x", "0.000001 TX 5G | x"}) {
        std::string error;
        EXPECT_FALSE(ParseTraceLine(line, error)) << line;
        EXPECT_FALSE(error.empty()) << line;
    }
}

TEST(TraceFile, PrintShowsDeltasDecodingAndBytesAndStopsAtABadLine) {
    std::istringstream in(
        "# Vindelor traffic trace, format 1\n"
        "0.000441 TX 50 50 50 FF 00 20 DF AA AA | read request reg 0x20 dest 255\n"
        "0.010441 RX 52 52 52 00 FF 20 DF 02 FD 34 CB 12 ED AA AA | register reply 0x20 = 4660\n");
    std::ostringstream out;
    std::string error;
    ASSERT_TRUE(PrintTrace(in, out, error)) << error;
    EXPECT_EQ(out.str(),
              "# Vindelor traffic trace, format 1\n"
              "    0.000441    +0.000000  TX  read request reg 0x20 dest 255\n"
              "                               50 50 50 FF 00 20 DF AA AA\n"
              "    0.010441    +0.010000  RX  register reply 0x20 = 4660\n"
              "                               52 52 52 00 FF 20 DF 02 FD 34 CB 12 ED AA AA\n");
    std::istringstream bad("# x\nnonsense\n");
    EXPECT_FALSE(PrintTrace(bad, out, error));
    EXPECT_EQ(error.substr(0, 7), "line 2:");
}

}  // namespace
}  // namespace vindelor::protocol
