#include "registers/DefinitionFolders.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDir.h"

namespace vindelor::registers {
namespace {

using testing::TempDir;

const char* kRegisters = "REGA             1  1\n";
const char* kBitFields = "OPMODE        1  0  2 Passive Velocity\n";
const char* kAlternative = "7 , \"ALTREG\" , int16\n";

TEST(DefinitionFolders, TheUserFolderFollowsXdgDataHomeElseHome) {
    struct Case {
        const char* xdg;
        const char* home;
        std::string folder;
    };
    const Case cases[] = {
        {"/data", "/home/u", "/data/vindelor/defs"},
        {nullptr, "/home/u", "/home/u/.local/share/vindelor/defs"},
        {"", "/home/u", "/home/u/.local/share/vindelor/defs"},
        {"relative/path", "/home/u", "/home/u/.local/share/vindelor/defs"},  // ignored, as XDG says
        {nullptr, nullptr, ""},
        {nullptr, "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UserDefinitionFolder(c.xdg, c.home), c.folder) << (c.xdg ? c.xdg : "(unset)");
}

TEST(DefinitionFolders, TheShippedFolderLiesBesideTheProgram) {
    // Tests run from the build tree: the program's folder is known, the shipped folder is
    // share/vindelor/defs next to it.
    const std::string shipped = SharedDefinitionFolder();
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path().string();
    EXPECT_EQ(shipped, self + "/share/vindelor/defs");
}

// Three folders as the search sees them: current, user's, shipped.
class Search : public ::testing::Test {
protected:
    std::vector<std::string> folders() const { return {current.path(), user.path(), shipped.path()}; }
    TempDir current, user, shipped;
};

TEST_F(Search, TheFirstFolderHoldingAnyFileOfTheSetWins) {
    shipped.write("tambrel.dat", kRegisters);
    shipped.write("bitdefs.dat", kBitFields);
    EXPECT_EQ(FindDefinitionFolder(folders(), VX20_95, false), shipped.path().string());
    user.write("bitdefs.dat", kBitFields);  // one file of the pair is enough
    EXPECT_EQ(FindDefinitionFolder(folders(), VX20_95, false), user.path().string());
    current.write("tambrel.dat", kRegisters);
    EXPECT_EQ(FindDefinitionFolder(folders(), VX20_95, false), current.path().string());
    // Another device type or format looks for its own files only.
    EXPECT_EQ(FindDefinitionFolder(folders(), KT42, false), std::nullopt);
    EXPECT_EQ(FindDefinitionFolder(folders(), VX20_95, true), std::nullopt);
    shipped.write("tambrel_alt.dat", kAlternative);
    EXPECT_EQ(FindDefinitionFolder(folders(), VX20_95, true), shipped.path().string());
}

TEST_F(Search, LoadsFromTheFolderItFoundAndSaysWhich) {
    user.write("tambrel_alt.dat", kAlternative);
    shipped.write("tambrel_alt.dat", "0 , \"SHIPPED\" , int16\n");
    Definitions d;
    std::string used;
    const LoadResult r = LoadFromFolders(d, VX20_95, true, folders(), used);
    EXPECT_TRUE(r.errors.empty());
    EXPECT_TRUE(r.registersLoaded);
    EXPECT_EQ(used, user.path().string());
    ASSERT_EQ(d.registerCount, 1);
    EXPECT_EQ(d.registerTable[0].name, "ALTREG");
}

TEST_F(Search, AFileFoundNowhereNamesEveryFolderLookedIn) {
    Definitions d;
    std::string used;
    const LoadResult r = LoadFromFolders(d, VX20_95, false, folders(), used);
    const std::string where = current.path().string() + ", " + user.path().string() + ", " + shipped.path().string();
    EXPECT_EQ(r.errors, (std::vector<std::string> {
                            "Error loading parameter file (LINE 0)\ntambrel.dat was looked for in: " + where,
                            "Error loading bitdef file (LINE 0)\nbitdefs.dat was looked for in: " + where}));
    EXPECT_EQ(used, current.path().string());
}

TEST_F(Search, AHalfSetIsNotMixedWithALaterFolder) {
    current.write("tambrel.dat", kRegisters);
    shipped.write("bitdefs.dat", kBitFields);
    Definitions d;
    std::string used;
    const LoadResult r = LoadFromFolders(d, VX20_95, false, folders(), used);
    EXPECT_TRUE(r.registersLoaded);
    EXPECT_EQ(r.errors, (std::vector<std::string> {"Error loading bitdef file (LINE 0)\nbitdefs.dat was looked for in: " +
                                                   current.path().string()}));
    EXPECT_EQ(d.bitFieldCount, 0);
}

TEST_F(Search, ABadLineKeepsItsOwnErrorText) {
    user.write("kt42.dat", "REGA             1  1\nBROKEN\n");
    user.write("kt42bits.dat", "");
    Definitions d;
    std::string used;
    const LoadResult r = LoadFromFolders(d, KT42, false, folders(), used);
    EXPECT_EQ(r.errors, (std::vector<std::string> {"Error loading parameter file (LINE 2)"}));
    EXPECT_EQ(used, user.path().string());
}

}  // namespace
}  // namespace vindelor::registers
