#include "registers/RestoreList.h"

#include <gtest/gtest.h>

#include "registers/DefinitionFolders.h"
#include "support/TempDir.h"

namespace vindelor::registers {
namespace {

const std::string kShipped = std::string(VINDELOR_SOURCE_DIR) + "/defs";

Definitions Shipped(int type) {
    Definitions defs;
    EXPECT_TRUE(LoadDefinitions(defs, type, false, kShipped).registersLoaded);
    return defs;
}

class ShippedList : public ::testing::TestWithParam<int> {};

TEST_P(ShippedList, LoadsAndNeverNamesWhatARestoreMustNotWrite) {
    const Definitions defs = Shipped(GetParam());
    RestoreList list;
    std::string error;
    ASSERT_TRUE(LoadRestoreList(GetParam(), defs, {kShipped}, list, error)) << error;
    EXPECT_FALSE(list.numbers.empty());
    // Measured values, status, identity, what moves the motor, and what cuts the line.
    for (const char* name :
         {"P_IST", "V_IST", "TEMP", "LOAD", "STATUS", "FIRMWARE", "SERIAL", "MODE", "P_SOLL",
          "V_SOLL", "A_SOLL", "T_SOLL", "ADDRESS", "BAUDRATE"}) {
        const int number = defs.findRegisterByName(name);
        if (number >= 0) {
            EXPECT_FALSE(list.numbers.count(number)) << name;
        }
    }
    for (const char* name : {"SAMPLE1", "GROUP"})
        EXPECT_TRUE(list.numbers.count(defs.findRegisterByName(name))) << name;
}

INSTANTIATE_TEST_SUITE_P(EveryDeviceType, ShippedList,
                         ::testing::Values(VX20_95, VX300_700, KT42, KT56));

TEST(RestoreList, ErrorsNameTheLine) {
    const Definitions defs = Shipped(VX20_95);
    struct Case {
        std::string text;
        std::string error;
    };
    const Case cases[] = {
        {"# comment\n\nKP\nKQ\n", "line 4: KQ is no register of the definitions"},
        {"KP\nFIRMWARE\n", "line 2: FIRMWARE is a version word, which a restore never writes"},
        {"RESERVED\n", "line 1: RESERVED is no register of the definitions"},
        {"kp\n", "line 1: kp is no register of the definitions"},
    };
    for (const auto& c : cases) {
        std::set<int> numbers;
        std::string error;
        EXPECT_FALSE(ParseRestoreList(c.text, defs, numbers, error)) << c.text;
        EXPECT_EQ(error, c.error);
    }
    std::set<int> numbers;
    std::string error;
    EXPECT_TRUE(ParseRestoreList("  KP  \r\nGEAR\n# KI\n", defs, numbers, error)) << error;
    EXPECT_EQ(numbers, (std::set<int>{16, 18}));
}

TEST(RestoreList, TheFirstFolderHoldingTheListWinsAndAFaultNamesFileAndLine) {
    const Definitions defs = Shipped(VX20_95);
    testing::TempDir own, other;
    RestoreList list;
    std::string error;
    EXPECT_FALSE(LoadRestoreList(VX20_95, defs, {own.path(), other.path()}, list, error));
    EXPECT_NE(error.find("No restore list tambrel_restore.dat"), std::string::npos) << error;
    other.write("tambrel_restore.dat", "KI\n");
    ASSERT_TRUE(LoadRestoreList(VX20_95, defs, {own.path(), other.path()}, list, error)) << error;
    EXPECT_EQ(list.numbers, std::set<int>{17});
    EXPECT_EQ(list.path, other.file("tambrel_restore.dat"));
    own.write("tambrel_restore.dat", "KP\n\nNOPE\n");
    EXPECT_FALSE(LoadRestoreList(VX20_95, defs, {own.path(), other.path()}, list, error));
    EXPECT_EQ(error,
              own.file("tambrel_restore.dat") + ":3: NOPE is no register of the definitions");
}

}  // namespace
}  // namespace vindelor::registers
