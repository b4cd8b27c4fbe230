// vindelor-cli with the register definitions of defs/ in its current folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "registers/Definitions.h"
#include "sim/DeviceSetup.h"
#include "support/RunCli.h"
#include "support/SimFixture.h"
#include "support/TempDir.h"

namespace vindelor::cli {
namespace {

using testing::CliRun;

class CliWithDefinitions : public testing::CliSimFixture {
  protected:
    void SetUp() override {
        CliSimFixture::SetUp();
        ASSERT_EQ(sim::ConfigureAsMotor(*device, registers::VX20_95, defs()), "");
    }
    static std::string defs() { return std::string(VINDELOR_SOURCE_DIR) + "/defs"; }
    CliRun run(const std::string& args) {
        return testing::RunCli(portArg() + " " + args, "cd " + defs() + " &&");
    }
};

TEST_F(CliWithDefinitions, ListPrintsRegisterAndBitFieldLines) {
    CliRun r = run("list");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("  2:SAMPLE1                   0          Word   \n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("***:RESERVED       \n"), std::string::npos);
    EXPECT_NE(r.out.find("\nOPMODE          0 Passive\n"), std::string::npos);
}

TEST_F(CliWithDefinitions, ReadAndWriteGoByNameAndType) {
    CliRun r = run("read FIRMWARE");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, " 20:FIRMWARE                  1.28        Version\n");
    r = run("write GEAR 1.5");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, " 18:GEAR                      1.5000000  Fixed16\n");
    EXPECT_EQ(device->value(18), 98304u);
    r = run("read 18");  // a number that the definitions hold prints its line too
    EXPECT_NE(r.out.find("GEAR"), std::string::npos);
}

TEST_F(CliWithDefinitions, AWriteThatDidNotTakeIsStatusOne) {
    // A write has no answer: the value read back is what tells that it arrived.
    device->setLive(16, [](auto) { return 0x1800u; });  // KP stays 1.5 whatever is written
    CliRun r = run("write KP 2.5");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, " 16:KP                        1.5000000  Fixed4 \n");
    EXPECT_NE(r.err.find("KP reads back otherwise than written"), std::string::npos) << r.err;
    EXPECT_EQ(run("write KP 1.5").status, 0) << "the value it holds";
}

TEST_F(CliWithDefinitions, BadValuesAndUnknownNamesAreUsageErrors) {
    CliRun r = run("write KP abc");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Invalid number"), std::string::npos) << r.err;
    EXPECT_EQ(run("write FIRMWARE 2").status, 2);  // a version is not typed in
    EXPECT_EQ(run("read NO_SUCH_REGISTER").status, 2);
    EXPECT_EQ(run("read gear").status, 2);  // names keep their case
}

TEST_F(CliWithDefinitions, SamplesPrintCaptionsAndRows) {
    CliRun r = run("sample --count 2");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Nr\tV_IST\tTEMP\tMODE\tSTATUS\n1\t", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\n2\t"), std::string::npos) << r.out;
}

TEST_F(CliWithDefinitions, JsonGivesNamesNumbersRawAndConvertedValues) {
    CliRun r = run("read FIRMWARE --json");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"name\":\"FIRMWARE\",\"number\":20,\"type\":\"version\",\"raw\":32860,\"value\":\"1.28\","
                     "\"text\":\"1.28\"}\n");
    ASSERT_EQ(run("write GEAR -1.5").status, 0);
    r = run("read GEAR --json --repeat 2");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string gear = "{\"name\":\"GEAR\",\"number\":18,\"type\":\"fixed16\",\"raw\":4294868992,"
                             "\"value\":-1.5,\"text\":\"-1.5000000\"}\n";
    EXPECT_EQ(r.out.rfind(gear + gear + "{\"round_trip_ms\":{\"count\":2,\"min\":", 0), 0u) << r.out;

    // The whole list is one object: every register (a placeholder without number or value) and
    // every bit field with the name of its value.
    r = run("list --json --read");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("{\"device_type\":\"VX20-95\",\"read\":true,\"registers\":[{\"name\":\"MODE\",", 0), 0u)
        << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    for (const char* item :
         {"{\"name\":\"GEAR\",\"number\":18,\"type\":\"fixed16\",\"raw\":4294868992,\"value\":-1.5,",
          "{\"name\":\"RESERVED\",\"number\":null,\"type\":\"Dummy\",\"raw\":null,\"value\":null,\"text\":\"\"}",
          "],\"bit_fields\":[{\"name\":\"OPMODE\",\"register\":1,\"first_bit\":0,\"width\":2,\"value\":1,"
          "\"value_name\":"})
        EXPECT_NE(r.out.find(item), std::string::npos) << "missing " << item << " in\n" << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 3), "]}\n");

    // Samples: one object a row, each channel's register, raw and converted value.
    r = run("sample --json --count 2");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string channel = "{\"name\":\"TEMP\",\"type\":\"fixed8\",\"raw\":";
    EXPECT_EQ(r.out.rfind("{\"nr\":1,\"channels\":[{\"name\":\"V_IST\",\"type\":\"int16\",\"raw\":", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("}]}\n{\"nr\":2,\"channels\":[{\"name\":\"V_IST\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(channel), std::string::npos) << r.out;
}

TEST_F(CliWithDefinitions, FilterWritesTheSixteenCoefficients) {
    testing::TempDir tmp;
    std::string coefficients;
    for (int i = 0; i < 22; ++i) coefficients += std::string("\x10\x00\x00\x00", 4);
    const std::filesystem::path file = tmp.write("filter.bin", coefficients);
    CliRun r = run("filter " + file.string());
    EXPECT_EQ(r.status, 0) << r.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int kff3 = 25;
    EXPECT_EQ(device->value(kff3), 16u);
    std::filesystem::resize_file(file, 40);
    r = run("filter " + file.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("needs at least 22"), std::string::npos) << r.err;
}

struct TypeCase {
    int type;
    const char* name;
    const char* firmware;  // the line of "read FIRMWARE"
    const char* status;    // the line of "read STATUS": enabled and in position
};
void PrintTo(const TypeCase& c, std::ostream* os) {
    *os << c.name;
}

class CliOnEachDeviceType : public testing::CliSimFixture,
                            public ::testing::WithParamInterface<TypeCase> {};

// The large motors (VX300/700, KT56) hold two words under every register number.
TEST_P(CliOnEachDeviceType, ReadsTheSimulatedMotorsValues) {
    const TypeCase& c = GetParam();
    ASSERT_EQ(sim::ConfigureAsMotor(*device, c.type, std::string(VINDELOR_SOURCE_DIR) + "/defs"),
              "");
    const std::string env = "cd " + std::string(VINDELOR_SOURCE_DIR) + "/defs &&";
    const std::string type = std::string(" --type '") + c.name + "' ";
    CliRun r = testing::RunCli(portArg() + type + "read FIRMWARE", env);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.firmware);
    r = testing::RunCli(portArg() + type + "read STATUS", env);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.status);

    // The JSON of the list holds what each line shows, also where a register number stands
    // for two words and the next reply wrote the second one.
    r = testing::RunCli(portArg() + type + "list --read --json", env);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* item : {"{\"name\":\"STATUS\",\"number\":6,\"type\":\"uint16\",\"raw\":3,\"value\":3,",
                             "{\"name\":\"FIRMWARE\",", "\"type\":\"version\",\"raw\":32860,\"value\":\"1.28\","})
        EXPECT_NE(r.out.find(item), std::string::npos) << "missing " << item << " in\n" << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Types, CliOnEachDeviceType,
    ::testing::Values(TypeCase{registers::VX20_95, "VX20-95",
                               " 20:FIRMWARE                  1.28        Version\n",
                               "  6:STATUS                    3          Word   \n"},
                      TypeCase{registers::VX300_700, "VX300/700",
                               " 17:FIRMWARE                  1.28        Version\n",
                               "  6:STATUS                    3          Word   \n"},
                      TypeCase{registers::KT42, "KT42",
                               " 16:FIRMWARE                  1.28        Version\n",
                               "  6:STATUS                    3          Word   \n"},
                      TypeCase{registers::KT56, "KT56",
                               " 14:FIRMWARE                  1.28        Version\n",
                               "  6:STATUS                    3          Word   \n"}),
    [](const auto& p) { return std::to_string(p.param.type); });

TEST_F(CliWithDefinitions, NamesNeedDefinitionsInTheCurrentFolder) {
    CliRun r = testing::RunCli("--port " + sim->slavePath() + " list", "cd / &&");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("No usable register definitions"), std::string::npos) << r.err;
    // A file that opens but cannot be read (here a folder of that name) is the same load error.
    testing::TempDir tmp;
    std::filesystem::create_directory(tmp.path() / "tambrel.dat");
    r = testing::RunCli("--port " + sim->slavePath() + " list",
                        "cd " + tmp.path().string() + " &&");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("(Error loading parameter file (LINE 0)"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace vindelor::cli
