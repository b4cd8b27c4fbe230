// The register list model against the simulated VX20-95 on a pseudo-terminal, with the
// definition files that ship in defs/: what the window shows after real replies.
#include <gtest/gtest.h>

#include "registers/RegisterList.h"
#include "registers/ValueType.h"
#include "sim/DeviceSetup.h"
#include "support/RecordingNotifier.h"
#include "support/SimFixture.h"

namespace vindelor::e2e {
namespace {

using namespace std::chrono_literals;

class RegisterListOnDevice : public testing::SimFixture, public registers::RegisterListHost {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        ASSERT_EQ(sim::ConfigureAsMotor(*device, registers::VX20_95, defsFolder()), "");
        startThread();
        list.folder = defsFolder();
        list.reload();
        ASSERT_TRUE(boxes.boxes.empty());
    }
    static std::string defsFolder() { return std::string(VINDELOR_SOURCE_DIR) + "/defs"; }

    protocol::Sender& sender() override { return SimFixture::sender; }
    protocol::Notifier& notifier() override { return boxes; }
    std::optional<std::string> askValue(const std::string&) override { return answer; }
    void pause(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    // The window's dispatcher: replies go to the list until the condition holds.
    template <typename Done>
    bool pumpUntil(Done done) {
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (!done()) {
            auto m = sink.take([](const protocol::ReceivedMessage& r) { return r.number != protocol::MsgReceivedByte; },
                               std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
            if (!m) return false;
            if (m->number == protocol::MsgRegisterValue)
                list.onRegisterValue(static_cast<int>(m->wParam), static_cast<std::uint32_t>(m->lParam));
            if (m->number == protocol::MsgSampleRow) list.addSampleRow(m->payload);
        }
        return true;
    }
    int index(const char* name) { return list.defs.findRegisterIndex(list.defs.findRegisterByName(name)); }
    const std::string& line(const char* name) { return list.lines.at(static_cast<std::size_t>(index(name))); }

    testing::RecordingNotifier boxes;
    std::optional<std::string> answer;
    registers::RegisterList list {*this};
};

TEST_F(RegisterListOnDevice, KeyRReadsTheSelectedRegisterIntoItsLine) {
    list.keyPress('r', index("FIRMWARE"));
    ASSERT_TRUE(pumpUntil([&] { return line("FIRMWARE").find("1.28") != std::string::npos; })) << line("FIRMWARE");
    EXPECT_EQ(line("FIRMWARE"), " 20:FIRMWARE                  1.28        Version");
}

TEST_F(RegisterListOnDevice, KeyWWritesByTypeAndShowsTheReadBack) {
    answer = "-2.5";
    list.keyPress('W', index("KP"));
    ASSERT_TRUE(pumpUntil([&] { return line("KP").find("-2.5000000") != std::string::npos; })) << line("KP");
    EXPECT_EQ(device->value(list.defs.findRegisterByName("KP")), 0xD800u);
}

TEST_F(RegisterListOnDevice, KeyGWritesToTheGroup) {
    answer = "123456";
    list.keyPress('G', index("SERIAL"));
    ASSERT_TRUE(pumpUntil([&] { return line("SERIAL").find("123456") != std::string::npos; })) << line("SERIAL");
    EXPECT_EQ(device->lastGroupSequence(), 0);
}

TEST_F(RegisterListOnDevice, SamplesTakeTheirColumnTypesFromTheSelectorReplies) {
    list.keyPress('S', -1);
    ASSERT_TRUE(pumpUntil([&] { return list.sampleRows.size() == 1; }));
    EXPECT_EQ(list.sampleCaptions, (std::array<std::string, 4> {"V_IST", "TEMP", "MODE", "STATUS"}));
    EXPECT_EQ(list.sampleTypes[1], registers::Fixed8);
    const auto& row = list.sampleRows[0];
    EXPECT_EQ(row[0], "1");
    EXPECT_EQ(row[3], "1");                                // velocity mode
    EXPECT_NE(row[2].find('.'), std::string::npos) << row[2];  // a temperature such as 40.1523438
}

TEST_F(RegisterListOnDevice, BitFieldsDecodeTheStatusRegister) {
    list.keyPress('R', index("STATUS"));
    ASSERT_TRUE(pumpUntil([&] { return list.bitFieldLines.at(1) == "ENABLED         1 On"; }))
        << list.bitFieldLines.at(1);
    EXPECT_EQ(list.bitFieldLines.at(2), "INPOS           1 Yes");
    EXPECT_EQ(list.bitFieldLines.at(3), "ERROR           0 No");
}

TEST_F(RegisterListOnDevice, EveryDeviceTypeLoadsInBothFormats) {
    for (int type : {registers::VX20_95, registers::VX300_700, registers::KT42, registers::KT56}) {
        for (bool alt : {false, true}) {
            registers::Definitions d;
            const auto r = registers::LoadDefinitions(d, type, alt, defsFolder());
            EXPECT_TRUE(r.errors.empty()) << type << (alt ? " alt: " : ": ") << (r.errors.empty() ? "" : r.errors[0]);
            EXPECT_GT(d.registerCount, 10);
            EXPECT_GT(d.bitFieldCount, 0);
            EXPECT_GT(d.sampleBase, 0);
        }
    }
}

}  // namespace
}  // namespace vindelor::e2e
