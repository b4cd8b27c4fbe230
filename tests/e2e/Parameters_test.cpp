// Parameter sets against simulated motors of every type: save, compare and the verified
// restore, with lost, garbled and wrong read-backs.
#include "registers/ParameterDevice.h"

#include <gtest/gtest.h>

#include <thread>

#include "registers/ValueType.h"
#include "support/LineFixture.h"

namespace vindelor::e2e {
namespace {

using namespace std::chrono_literals;
using registers::ParameterSet;
using registers::VX20_95;

constexpr int kAddress = 7;

// A motor whose replies to reads of one register never come.
class MuteRegister : public sim::DeviceModel {
  public:
    MuteRegister(std::shared_ptr<sim::DeviceModel> inner, int reg)
        : inner_(std::move(inner)), reg_(reg) {}
    void onByte(std::uint8_t b, sim::Clock::time_point at,
                std::vector<std::uint8_t>& reply) override {
        inner_->onByte(b, at, reply);
        if (reply.size() > 5 && reply[0] == 'R' && reply[5] == reg_) reply.clear();
    }

  private:
    std::shared_ptr<sim::DeviceModel> inner_;
    int reg_;
};

class Parameters : public testing::LineFixture {
  protected:
    void setUpType(int type) {
        type_ = type;
        motor = addMotor(kAddress, type);
        std::string error;
        ASSERT_TRUE(registers::LoadParameterDefinitions(type, false, {Shipped()}, pd, error))
            << error;
        ASSERT_EQ(pd.restoreError, "");
        job.address = kAddress;
    }
    ParameterSet read() { return registers::ReadParameterSet(*link, job, pd.defs, type_, "test"); }
    int number(const char* name) const { return pd.defs.findRegisterByName(name); }
    int words(int reg) const {
        return pd.defs.registerTable[static_cast<std::size_t>(pd.defs.findRegisterIndex(reg))]
            .words;
    }
    // Writes that reached the motor, by register number.
    std::vector<int> writes() const {
        std::vector<int> out;
        for (const auto& f : motor->frames())
            if (f.letter == 'R' && !f.body.empty()) out.push_back(f.body[0]);
        return out;
    }

    int type_ = VX20_95;
    std::shared_ptr<sim::RegisterDevice> motor;
    registers::ParameterDefinitions pd;
    registers::ParameterJob job;
};

class EveryType : public Parameters, public ::testing::WithParamInterface<int> {};

TEST_P(EveryType, SaveDiffAndRestoreGoRoundAndWriteOnlyWhatDiffersAndIsAllowed) {
    setUpType(GetParam());
    open();
    const ParameterSet saved = read();
    const auto reread = registers::ParseParameterSet(registers::FormatParameterSet(saved));
    ASSERT_TRUE(std::holds_alternative<ParameterSet>(reread));
    const ParameterSet file = std::get<ParameterSet>(reread);
    EXPECT_EQ(file.firmware, "1.28");
    EXPECT_EQ(file.deviceType, registers::FilesOf(GetParam()).name);
    EXPECT_EQ(registers::CheckSetFitsDefinitions(file, pd.defs, GetParam()), "");
    EXPECT_TRUE(registers::CompareParameterSets(file, read(), &pd.restore.numbers).empty());

    // Every restorable register changes on the device (across both words where it has two),
    // and so does the operating mode, which a restore must leave alone.
    for (int reg : pd.restore.numbers)
        motor->setValue(reg, file.find(reg)->raw + (words(reg) == 2 ? 0x00010001u : 1u));
    motor->setValue(number("MODE"), 2);
    const ParameterSet now = read();
    const auto diffs = registers::CompareParameterSets(file, now, &pd.restore.numbers);
    EXPECT_EQ(diffs.size(), pd.restore.numbers.size());
    const auto steps = registers::PlanRestore(file, now, pd.restore.numbers);
    ASSERT_EQ(steps.size(), pd.restore.numbers.size());

    motor->clearFrames();
    EXPECT_TRUE(registers::RunRestore(*link, job, steps).empty());
    EXPECT_EQ(writes(), std::vector<int>(pd.restore.numbers.begin(), pd.restore.numbers.end()));
    for (int reg : pd.restore.numbers) EXPECT_EQ(motor->value(reg), file.find(reg)->raw) << reg;
    EXPECT_EQ(motor->value(number("MODE")), 2u);
    EXPECT_TRUE(registers::CompareParameterSets(file, read(), &pd.restore.numbers).empty());
}

INSTANTIATE_TEST_SUITE_P(DeviceTypes, EveryType,
                         ::testing::Values(registers::VX20_95, registers::VX300_700,
                                           registers::KT42, registers::KT56));

TEST_F(Parameters, ARestoreWithNothingToDoWritesNothing) {
    setUpType(VX20_95);
    open();
    const ParameterSet file = read();
    motor->clearFrames();
    EXPECT_TRUE(registers::PlanRestore(file, read(), pd.restore.numbers).empty());
    EXPECT_TRUE(writes().empty());
}

TEST_F(Parameters, AValueThatDoesNotReadBackFailsTheRestoreNamingTheRegister) {
    setUpType(VX20_95);
    open();
    const ParameterSet file = read();
    motor->setValue(number("KP"), 0x1000);
    motor->setValue(number("GEAR"), 0x00020000);
    // KP ignores what is written to it.
    motor->setLive(number("KP"), [](sim::Clock::time_point) { return 0x1000u; });
    const auto steps = registers::PlanRestore(file, read(), pd.restore.numbers);
    ASSERT_EQ(steps.size(), 2u);
    const auto failures = registers::RunRestore(*link, job, steps);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].text(), "KP: reads back 1.0000000, not 1.5000000");
    EXPECT_EQ(motor->value(number("GEAR")), 0x00018000u);
}

TEST_F(Parameters, ASilentDeviceFailsTheReadBackOfEveryRegister) {
    setUpType(VX20_95);
    open();
    const ParameterSet file = read();
    motor->setValue(number("KP"), 0x1000);
    motor->setValue(number("KI"), 0x0100);
    const auto steps = registers::PlanRestore(file, read(), pd.restore.numbers);
    line->setReplyDelayMs(0, 60'000);  // it takes the writes and answers nothing any more
    job.replyMarginMs = 50;
    const auto failures = registers::RunRestore(*link, job, steps);
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].text(), "KP: no answer when read back");
    EXPECT_EQ(failures[1].text(), "KI: no answer when read back");
}

TEST_F(Parameters, ARegisterThatDoesNotAnswerFailsTheSaveWithItsName) {
    auto device = std::make_shared<sim::RegisterDevice>();
    device->setAddress(kAddress);
    ASSERT_EQ(sim::ConfigureAsMotor(*device, VX20_95, Shipped()), "");
    std::string error;
    ASSERT_TRUE(registers::LoadParameterDefinitions(VX20_95, false, {Shipped()}, pd, error));
    job.address = kAddress;
    job.replyMarginMs = 50;
    sim = std::make_unique<sim::SimPort>(
        std::make_shared<MuteRegister>(device, pd.defs.findRegisterByName("KI")));
    port = std::make_unique<serial::TSerCom>(sim->slavePath(), 115200, 8000);
    port->Open();
    link = std::make_unique<protocol::RegisterLink>(*port);
    try {
        registers::ReadParameterSet(*link, job, pd.defs, VX20_95, "test");
        ADD_FAILURE() << "the save went through";
    } catch (const registers::ParameterError& e) {
        EXPECT_STREQ(e.what(), "KI: no answer from the device at address 7");
    }
}

TEST_F(Parameters, ALostOrGarbledReplyIsAskedOnceMore) {
    setUpType(VX20_95);
    open();
    motor->setValue(number("KP"), 0x1234);
    sim->dropOutputByte(3);                    // the first reply loses its destination
    sim->corruptOutputByte(2 * 15 + 9, 0x01);  // the one after its second try a value byte
    const ParameterSet set = read();
    EXPECT_EQ(set.find(number("MODE"))->raw, 1u);
    EXPECT_EQ(set.find(number("SAMPLE1"))->raw, motor->value(number("SAMPLE1")));
    EXPECT_EQ(set.find(number("KP"))->raw, 0x1234u);
}

TEST_F(Parameters, AReplyOfTheWrongWidthSaysTheDeviceTypeIsWrong) {
    setUpType(VX20_95);
    motor->setWordsPerRegister(2);
    for (int reg = 0; reg < 64; ++reg) motor->setWidth(reg, 2);
    open();
    try {
        read();
        ADD_FAILURE() << "the save went through";
    } catch (const registers::ParameterError& e) {
        EXPECT_STREQ(
            e.what(),
            "MODE: the device answers with 4 bytes where a VX20-95 has 2; is it a VX20-95?");
    }
}

}  // namespace
}  // namespace vindelor::e2e
