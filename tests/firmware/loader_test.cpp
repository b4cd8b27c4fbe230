// The module firmware loader against the simulated bootloader on a pseudo-terminal, with the
// bootloader already waiting for commands (the reset round is in tests/slow).
#include <gtest/gtest.h>

#include <algorithm>

#include "firmware/Atmega162fix.h"
#include "firmware/RecordLimits.h"
#include "firmware/TErr.h"
#include "support/LoaderFixture.h"

namespace vindelor::firmware {
namespace {

using testing::Bytes;
using testing::CommandFrame;
using testing::Counting;
using testing::ImageFor;
using testing::Status;
using namespace std::chrono_literals;

class Loader : public testing::LoaderFixture {};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(LoaderTexts, StatusTextsCarryTheirPercentages) {
    EXPECT_EQ(LoaderStatusText(kStatusTransfering, 42), "Transfering (42%)");
    EXPECT_EQ(LoaderStatusText(kStatusTransferingEpp, 100), "Transfering EPP (100%)");
    EXPECT_EQ(LoaderStatusText(kStatusErasePercent, 5), "Erasing (5%)");
    EXPECT_EQ(LoaderStatusText(kStatusConnecting, 0), "Connecting - Please turn off/on the motor");
    EXPECT_EQ(LoaderStatusText(kStatusFailed, 3), "Failed!");
    EXPECT_EQ(LoaderStatusText(kStatusTesting, 0), "Testing communication");
    EXPECT_EQ(LoaderStatusText(14, 0), "");
    for (const char* text : kLoaderStatusTexts) EXPECT_LE(std::string(text).size(), 59u);
}

TEST(LoaderTexts, TheLineTestBlockFailsItsOwnCheck) {
    const auto block = TVxLoad::LineTestBlock();
    const std::uint16_t crc = Crc16(block.data(), 4096);
    EXPECT_NE((block[4096] << 8) | block[4097], crc);
    EXPECT_NE(Crc16(block.data(), block.size()), 0);
}

TEST(LoaderModes, AHeaderSetsRatesBytesAndResetCommand) {
    struct Case {
        int mode;
        std::uint16_t hardware;
        std::uint32_t baud;
        std::uint8_t wake, ready, reset;
    };
    const Case cases[] = {
        {0, 0, 57600, 0x4C, 0x5A, 0x56}, {1, 1, 38400, 0x5C, 0x4A, 0x33},
        {1, 2, 38400, 0x5C, 0x4A, 0x42}, {1, 4, 38400, 0x5C, 0x4A, 0x60},
        {1, 3, 38400, 0x5C, 0x4A, 0x00}, {2, 0, 19200, 0x6C, 0x6A, 0x57},
        {3, 3, 19200, 0x7C, 0x7A, 0x21}, {3, 5, 19200, 0x7C, 0x7A, 0x71},
        {3, 6, 19200, 0x7C, 0x7A, 0x81}, {3, 1, 19200, 0x7C, 0x7A, 0x00},
    };
    for (const auto& c : cases) {
        TVxLoad loader(nullptr, nullptr);
        loader.ReadImageData(ImageFor(c.mode, c.hardware).Bytes());
        EXPECT_EQ(loader.BaudRate, c.baud) << c.mode << "/" << c.hardware;
        EXPECT_EQ(loader.WakeByte, c.wake) << c.mode << "/" << c.hardware;
        EXPECT_EQ(loader.ReadyByte, c.ready) << c.mode << "/" << c.hardware;
        EXPECT_EQ(loader.ResetCommand, c.reset) << c.mode << "/" << c.hardware;
    }
    TVxLoad bare(nullptr, nullptr);
    bare.ReadImageData(ImageWriter().AddFlash(0, Bytes{1, 2}).Bytes());
    EXPECT_EQ(bare.LoaderMode, 0);
    EXPECT_EQ(bare.BaudRate, 57600u);
    EXPECT_EQ(bare.WakeByte, 0);
    EXPECT_EQ(bare.ResetCommand, 0);
}

TEST(LoaderModes, AnUnknownModeIsAnImageError) {
    // The header's address field holds the loader mode (low half) and the hardware code.
    const Bytes record = EncodeImageRecord(kHeaderRecord, 7, Bytes{0, 0, 'x', 0});
    TVxLoad loader(nullptr, nullptr);
    EXPECT_THROW(loader.ReadImageData(record), TErr);
}

// Mode 0 end to end, every byte: ping (quick try), ping and identify, the line test block,
// the erase, each flash block announced with two bytes less than sent, no EPP block, the end.
TEST_F(Loader, ModeZeroSendsEveryByteOfTheUpdate) {
    const Bytes a = Checked(Counting(64, 1));
    const Bytes b = Checked(Counting(32, 100));
    auto image = ImageFor(0);
    image.AddErase(3).AddFlash(0x012345, a).AddFlash(0x000100, b).AddEpp(0x10, Bytes {9, 9});
    Start(image.Bytes(), Waiting(0));

    const auto statuses = RunToEnd();
    const std::vector<Status> expected {{1, 0}, {13, 0}, {5, 0}, {6, 0}, {7, 0}, {6, 50}, {7, 0},
                                        {11, 0}, {7, 0}, {8, 0}};
    EXPECT_EQ(statuses, expected);
    const auto test = TVxLoad::LineTestBlock();
    const Bytes wire = Concat({CommandFrame(0), CommandFrame(0), CommandFrame(8),
                               CommandFrame(1, {0, 0, 0, 0x10, 0}), Bytes(test.begin(), test.end()),
                               CommandFrame(2, {3}), CommandFrame(1, {0x01, 0x23, 0x45, 0, 64}), a,
                               CommandFrame(1, {0, 1, 0, 0, 32}), b, CommandFrame(7)});
    ASSERT_TRUE(sim->waitReceived(wire.size(), 2000));
    EXPECT_EQ(sim->received(), wire);

    const auto blocks = device->blocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].writeStatus, 2);  // the line test is never written
    EXPECT_EQ(device->flash().at(0x012345), a);
    EXPECT_EQ(device->flash().at(0x100), b);
    EXPECT_EQ(device->erasedBlocks(), std::vector<int> {3});
    EXPECT_TRUE(DeviceEnded());

    auto info = sink.take(protocol::MsgLoaderInfo, 0ms);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->wParam, 0x0102);
    EXPECT_EQ(info->text, "test image");
}

// Mode 2: the switch to 57600 after the wake-up, the erase end awaited, the payload announced
// whole and followed by its CRC-32/JAMCRC least significant byte first.
TEST_F(Loader, ModeTwoSwitchesToTheFastRateAndSendsTheCrc32Trailer) {
    const Bytes a = Counting(40, 7);
    auto image = ImageFor(2);
    image.AddErase(1).AddFlash(0x4000, a).AddEpp(0, Bytes {1});
    Start(image.Bytes(), Waiting(2));

    const std::vector<Status> expected {{1, 0}, {6, 0}, {7, 0}, {11, 0}, {7, 0}, {8, 0}};
    EXPECT_EQ(RunToEnd(), expected);
    const std::uint32_t jam = ~Crc32(a.data(), a.size());
    const Bytes trailer {static_cast<std::uint8_t>(jam), static_cast<std::uint8_t>(jam >> 8),
                         static_cast<std::uint8_t>(jam >> 16), static_cast<std::uint8_t>(jam >> 24)};
    const Bytes wire = Concat({CommandFrame(0), CommandFrame(11, {4}), CommandFrame(0), CommandFrame(0),
                               CommandFrame(0), CommandFrame(8), CommandFrame(2, {1}),
                               CommandFrame(1, {0, 0x40, 0, 0, 40}), a, trailer, CommandFrame(7)});
    ASSERT_TRUE(sim->waitReceived(wire.size(), 2000));
    EXPECT_EQ(sim->received(), wire);
    EXPECT_EQ(device->flash().at(0x4000), a);
    EXPECT_EQ(port->GetBaudRate(), 57600u);
}

// Mode 1: identified three more times, two-byte addresses, EPP blocks sent with command 10.
TEST_F(Loader, ModeOneSendsEppBlocks) {
    const Bytes a = Checked(Counting(20));
    const Bytes e = Counting(6, 0x40);
    auto image = ImageFor(1, 1);
    image.AddFlash(0x0200, a).AddEpp(0x0010, e);
    auto config = Waiting(1, 1);
    config.revision = 10;
    Start(image.Bytes(), config);

    const std::vector<Status> expected {{1, 0}, {6, 0}, {7, 0}, {11, 0}, {7, 0}, {8, 0}};
    EXPECT_EQ(RunToEnd(), expected);
    const Bytes wire = Concat({CommandFrame(0), CommandFrame(0), CommandFrame(8), CommandFrame(8),
                               CommandFrame(8), CommandFrame(1, {0x02, 0x00, 0, 22}), a,
                               CommandFrame(10, {0, 0x10, 0, 6}), e, CommandFrame(7)});
    ASSERT_TRUE(sim->waitReceived(wire.size(), 2000));
    EXPECT_EQ(sim->received(), wire);
    const auto blocks = device->blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1].command, 10);
    EXPECT_EQ(blocks[1].data, e);
}

// Mode 3: the identity must fit the file; the erase end status comes at once.
TEST_F(Loader, ModeThreeChecksTheHardwareCode) {
    auto image = ImageFor(3, 5);
    image.AddErase(0).AddErase(1).AddFlash(0, Checked(Counting(16)));
    Start(image.Bytes(), Waiting(3, 5));
    const std::vector<Status> expected {{1, 0}, {5, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 0}};
    EXPECT_EQ(RunToEnd(), expected);
    EXPECT_EQ(device->erasedBlocks(), (std::vector<int> {0, 1}));
    EXPECT_TRUE(DeviceEnded());
}

TEST_F(Loader, IncompatibleHardwareEndsAtOnce) {
    auto image = ImageFor(3, 5);
    image.AddFlash(0, Checked(Counting(16)));
    Start(image.Bytes(), Waiting(3, 6));
    const auto statuses = RunToEnd();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), (Status {9, 3}));
    EXPECT_EQ(loader->ErrorLog(), std::vector<std::string> {"Incompatible hardware!"});
    EXPECT_TRUE(device->blocks().empty());
}

// The patch goes once, on the first block at address 0, and stays in it when it is sent again.
TEST_F(Loader, ThePatchIsAppliedOnceAndOnlyToTheFirstBlockAtAddressZero) {
    const Bytes first = Checked(Counting(200, 3));
    const Bytes other = Checked(Counting(200, 50));
    const Bytes again = Checked(Counting(200, 90));
    auto image = ImageFor(1, 1);
    image.AddFlash(0x100, other).AddFlash(0, first).AddFlash(0, again);
    auto config = Waiting(1, 1);
    config.revision = 25;
    Start(image.Bytes(), config);
    device->setBlockStatus(1, 3, 0);  // the patched block fails once and is sent again

    EXPECT_EQ(RunToEnd().back(), (Status {8, 0}));
    Bytes patched = first;
    ASSERT_TRUE(PatchAtmega162Payload(patched));
    const auto blocks = device->blocks();
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0].data, other);
    EXPECT_EQ(blocks[1].data, patched);
    EXPECT_EQ(blocks[2].data, patched);
    EXPECT_EQ(blocks[3].data, again);
    EXPECT_EQ(loader->ErrorLog(), std::vector<std::string> {"Error in data transfer: 3"});
}

// Another module on the line answers the first `times` identify commands too, before this
// one, claiming a newer revision.
class SecondModuleAnswersIdentify : public sim::DeviceModel {
public:
    SecondModuleAnswersIdentify(std::shared_ptr<sim::DeviceModel> inner, int times)
        : inner_(std::move(inner)), left_(times) {}
    void onByte(std::uint8_t b, sim::Clock::time_point at, std::vector<std::uint8_t>& reply) override {
        inner_->onByte(b, at, reply);
        if (left_ > 0 && reply.size() == 7 && reply[0] == 0xA8) {
            --left_;
            Bytes foreign {0xA8, 0x04, reply[2], reply[3], 27, reply[5]};
            unsigned sum = 0;
            for (auto v : foreign) sum += v;
            foreign.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
            reply.insert(reply.begin(), foreign.begin(), foreign.end());
        }
    }
    std::vector<LaterOutput> takeLaterOutput() override { return inner_->takeLaterOutput(); }

private:
    std::shared_ptr<sim::DeviceModel> inner_;
    int left_;
};

// A revision-10 module takes the image as it is; the new-hardware patch goes only to a module
// that says it is newer. Another module's identify answer never decides that: the attempt that
// heard two answers is made again, and an update that never hears one alone fails.
TEST_F(Loader, AnotherModulesIdentifyAnswerNeverDecidesThePatch) {
    for (int times : {2, 1000}) {
        SCOPED_TRACE(::testing::Message() << times << " answers of the other module");
        const Bytes first = Checked(Counting(200, 3));
        auto image = ImageFor(1, 1);
        image.AddFlash(0, first);
        auto config = Waiting(1, 1);
        config.revision = 10;
        onLine = [times](std::shared_ptr<sim::Bootloader> d) -> std::shared_ptr<sim::DeviceModel> {
            return std::make_shared<SecondModuleAnswersIdentify>(d, times);
        };
        Start(image.Bytes(), config);
        const auto statuses = RunToEnd(60s);
        ASSERT_FALSE(statuses.empty());
        const auto blocks = device->blocks();
        if (times == 2) {
            EXPECT_EQ(statuses.back(), (Status {8, 0}));
            ASSERT_EQ(blocks.size(), 1u);
            EXPECT_EQ(blocks[0].data, first);
            ASSERT_FALSE(failures.empty());
            EXPECT_EQ(failures.front(), "Two answers to identify: is another module on the line?");
        } else {
            EXPECT_EQ(statuses.back(), (Status {9, 1}));
            EXPECT_TRUE(blocks.empty());
        }
        TearDown();
        sink.clear();
        failures.clear();
    }
}

// A failed block: a new wake-up, then the same block again; the blocks before it are not sent
// again and the percentage goes on from the blocks already sent.
TEST_F(Loader, AFailureInTheMiddleResumesAtTheFailedRecord) {
    const Bytes r0 = Checked(Counting(16, 0)), r1 = Checked(Counting(16, 1)), r2 = Checked(Counting(16, 2));
    auto image = ImageFor(0);
    image.AddFlash(0x000, r0).AddFlash(0x100, r1).AddFlash(0x200, r2);
    Start(image.Bytes(), Waiting(0));
    device->setBlockStatus(2, 0, 7);  // block 0 is the line test

    const std::vector<Status> expected {{1, 0}, {13, 0}, {6, 0}, {7, 0}, {6, 33}, {1, 0}, {6, 33},
                                        {7, 0}, {6, 66}, {7, 0}, {8, 0}};
    EXPECT_EQ(RunToEnd(), expected);
    std::vector<std::uint32_t> addresses;
    for (const auto& b : device->blocks()) addresses.push_back(b.address);
    EXPECT_EQ(addresses, (std::vector<std::uint32_t> {0x000, 0x000, 0x100, 0x100, 0x200}));
    EXPECT_EQ(failures, std::vector<std::string> {"Error in flash write: 7"});
    EXPECT_EQ(device->flash().at(0x100), r1);
}

TEST_F(Loader, TenFailuresEndWithFailedAndTenLogLines) {
    auto image = ImageFor(0);
    image.AddFlash(0, Checked(Counting(8)));
    Start(image.Bytes(), Waiting(0));
    for (int k = 0; k < 10; ++k) device->corruptReplyChecksum(8, k);
    const auto statuses = RunToEnd();
    EXPECT_EQ(statuses.back(), (Status {9, 0}));
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), Status {1, 0}), 10);
    EXPECT_EQ(loader->ErrorLog(), std::vector<std::string>(10, "Error sending command: 8"));
    EXPECT_TRUE(device->blocks().empty());
}

TEST_F(Loader, AFailedLineTestEndsAtOnce) {
    auto image = ImageFor(0);
    image.AddFlash(0, Checked(Counting(8)));
    Start(image.Bytes(), Waiting(0));
    device->setBlockStatus(0, 0, 0);  // the test block "written": the line is not what it seems
    const auto statuses = RunToEnd();
    EXPECT_EQ(statuses.back(), (Status {9, 0}));
    EXPECT_EQ(loader->ErrorLog(), std::vector<std::string> {"Error during communcation test"});
    EXPECT_EQ(device->blocks().size(), 1u);
    EXPECT_EQ(loader->Attempts, TVxLoad::kMaxAttempts);
}

// A reply that comes too late for its command arrives among the answers to later ones. Here
// the quick try's ping, to a module waiting in its bootloader, is answered only after the
// second try's ping: the late answer waits in the input when the next command goes out, and
// must not be taken for that command's answer (modes 0 and 1 would take it for the next ping
// and the real ping answer for the identify; modes 2 and 3 for the answer to the baud switch,
// leaving the module at 57600 and the loader at 19200, asking for a power cycle).
TEST_F(Loader, ALateReplyIsNeverTakenForTheAnswerToTheNextCommand) {
    resetWanted = false;
    for (int mode = 0; mode <= 3; ++mode) {
        SCOPED_TRACE(::testing::Message() << "mode " << mode);
        auto image = ImageFor(mode, 3);
        const Bytes data = mode == 2 ? Counting(16) : Checked(Counting(16));
        image.AddFlash(0x100, data);
        Start(image.Bytes(), Waiting(mode, 3));
        device->holdReply(0, 0, 0);
        const auto statuses = RunToEnd();
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ(statuses.back(), (Status {8, 0}));
        EXPECT_EQ(std::count(statuses.begin(), statuses.end(), Status {2, 0}), 0);
        EXPECT_TRUE(failures.empty()) << failures.front();
        EXPECT_EQ(device->flash().at(0x100), data);
        TearDown();
        sink.clear();
        failures.clear();
    }
}

// What a record's announce can carry: a 16-bit length (modes 0 and 3 announce two bytes less
// than they send) and a 24-bit address, 16-bit in mode 1 and for EPP records.
TEST(RecordLimits, TheAnnounceOfEachModeBoundsLengthAndAddress) {
    struct Case {
        std::uint16_t type;
        std::uint64_t address, length;
        int mode;
        const char* problem;  // a word of the reason, or nullptr when the record fits
    };
    const Case cases[] = {
        {kFlashRecord, 0xFFFFFF, 0xFFFF + 2, 0, nullptr},
        {kFlashRecord, 0, 0xFFFF + 3, 0, "16-bit length"},
        {kFlashRecord, 0, 70000, 3, "16-bit length"},
        {kFlashRecord, 0x1000000, 16, 3, "24-bit address"},
        {kFlashRecord, 0, 1, 0, "shorter"},
        {kFlashRecord, 0, 0, 3, "shorter"},
        {kFlashRecord, 0, 2, 0, nullptr},
        {kFlashRecord, 0, 0xFFFF, 2, nullptr},
        {kFlashRecord, 0, 0x10000, 2, "16-bit length"},
        {kFlashRecord, 0, 0, 2, nullptr},
        {kFlashRecord, 0xFFFF, 0xFFFF, 1, nullptr},
        {kFlashRecord, 0x10000, 16, 1, "16-bit address"},
        {kEppRecord, 0x10000, 16, 1, "16-bit address"},
        {kEppRecord, 0, 0x10000, 1, "16-bit length"},
        {kEppRecord, 0x10000, 0x10000, 0, nullptr},  // never sent outside mode 1
        {kEraseRecord, 0x10000, 0x10000, 1, nullptr},
    };
    for (const auto& c : cases) {
        const std::string problem = RecordFrameProblem(c.type, c.address, c.length, c.mode);
        SCOPED_TRACE(::testing::Message() << "type " << c.type << " address " << c.address << " length "
                                          << c.length << " mode " << c.mode << ": " << problem);
        if (c.problem)
            EXPECT_NE(problem.find(c.problem), std::string::npos);
        else
            EXPECT_TRUE(problem.empty());
    }
}

// An image made elsewhere with such a record: nothing at all goes out, the run fails with the
// reason, and no attempt is made.
TEST_F(Loader, ARecordItsAnnounceCannotCarryIsRefusedBeforeAnythingIsSent) {
    struct Case {
        int mode;
        bool epp;
        std::uint32_t address;
        std::size_t length;
    };
    for (const Case c : {Case {0, false, 0, 70000}, Case {1, false, 0x10000, 16}, Case {1, true, 0x10000, 16},
                         Case {0, false, 0, 1}, Case {3, false, 0x1000000, 16}}) {
        SCOPED_TRACE(::testing::Message() << "mode " << c.mode << " address " << c.address << " length "
                                          << c.length);
        auto image = ImageFor(c.mode, 3);
        image.AddFlash(0, Checked(Counting(16)));
        if (c.epp)
            image.AddEpp(c.address, Counting(c.length));
        else
            image.AddFlash(c.address, Counting(c.length));
        Start(image.Bytes(), Waiting(c.mode, 3));
        EXPECT_EQ(RunToEnd(), (std::vector<Status> {{9, c.mode}}));
        const auto log = loader->ErrorLog();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].rfind("Record at offset 0x", 0), 0u) << log[0];
        EXPECT_TRUE(sim->received().empty());
        TearDown();
        sink.clear();
        failures.clear();
    }
}

// Count bytes with high bits set: only the low four bits count, the checksum leaves them out.
TEST_F(Loader, ReplyCountsWithHighBitsSetAreReadByTheirLowBits) {
    auto image = ImageFor(3, 3);
    image.AddErase(2).AddFlash(0, Checked(Counting(8)));
    Start(image.Bytes(), Waiting(3, 3));
    device->setCountHighBits(0x20);
    EXPECT_EQ(RunToEnd().back(), (Status {8, 0}));
    EXPECT_TRUE(loader->ErrorLog().empty());
}

// Terminate in the middle of the flash records: the record under way is finished, then
// "Aborted!"; the thread ends.
TEST_F(Loader, TerminateInTheMiddleEndsWithAborted) {
    auto image = ImageFor(3, 3);
    for (std::uint32_t k = 0; k < 20; ++k) image.AddFlash(k * 0x100, Checked(Counting(16)));
    Start(image.Bytes(), Waiting(3, 3));
    ASSERT_TRUE(sink.take([](const protocol::ReceivedMessage& m) {
        return m.number == protocol::MsgLoaderState && m.wParam == kStatusTransfering && m.lParam >= 10;
    }, 10s));
    loader->Terminate();
    const auto statuses = RunToEnd();
    EXPECT_EQ(statuses.back(), (Status {10, 0}));
    loader->WaitFor();
    EXPECT_TRUE(loader->Finished());
    EXPECT_LT(device->blocks().size(), 20u);
    EXPECT_FALSE(device->ended());
}

}  // namespace
}  // namespace vindelor::firmware
