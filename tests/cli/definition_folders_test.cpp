// Where vindelor-cli finds register definitions when its current folder holds none: the user's
// folder, then the folder shipped beside the program.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "registers/Definitions.h"
#include "sim/DeviceSetup.h"
#include "support/RunCli.h"
#include "support/SimFixture.h"
#include "support/TempDir.h"

namespace vindelor::cli {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::TempDir;

const std::string kDefs = std::string(VINDELOR_SOURCE_DIR) + "/defs";

// An installed tree in a temporary folder: bin/vindelor-cli and share/vindelor/defs; an empty
// current folder; a user data folder that holds nothing until a test puts files there.
class CliDefinitionFolders : public testing::CliSimFixture {
protected:
    void SetUp() override {
        CliSimFixture::SetUp();
        ASSERT_EQ(sim::ConfigureAsMotor(*device, registers::VX20_95, kDefs), "");
        fs::create_directories(prefix.path() / "bin");
        program = (prefix.path() / "bin" / "vindelor-cli").string();
        fs::copy_file(VINDELOR_CLI, program);
        shipped = prefix.path() / "share" / "vindelor" / "defs";
        userDefs = data.path() / "vindelor" / "defs";
    }
    void ship() {
        fs::create_directories(shipped);
        fs::copy(kDefs, shipped);
    }
    CliRun run(const std::string& args) {
        return testing::RunCli(portArg() + " " + args,
                               "cd " + cwd.path().string() + " && XDG_DATA_HOME=" + data.path().string(), program);
    }

    TempDir prefix, cwd, data;
    std::string program;
    fs::path shipped, userDefs;
};

TEST_F(CliDefinitionFolders, WithoutLocalFilesTheShippedOnesServe) {
    ship();
    CliRun r = run("read FIRMWARE");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, " 20:FIRMWARE                  1.28        Version\n");
}

TEST_F(CliDefinitionFolders, TheUsersFolderComesBeforeTheShippedOneAndTheCurrentFolderFirst) {
    ship();
    fs::create_directories(userDefs);
    std::ofstream(userDefs / "tambrel.dat") << "USERREG          1  1\n";
    std::ofstream(userDefs / "bitdefs.dat") << "";
    CliRun r = run("list");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "  1:USERREG                   0          Integer\n");
    cwd.write("tambrel.dat", "HEREREG          1  1\n");
    cwd.write("bitdefs.dat", "");
    r = run("list");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "  1:HEREREG                   0          Integer\n");
}

// Every command finds them the same way, the group write of the module tab too.
TEST_F(CliDefinitionFolders, TheUsersFolderServesEveryCommand) {
    fs::create_directories(userDefs);
    fs::copy(kDefs, userDefs);
    device->setGroup(5);
    for (const char* args : {"read FIRMWARE", "group-write 3 1234 --group 5 --sequence 1", "group-write MODE 1"}) {
        CliRun r = run(args);
        EXPECT_EQ(r.status, 0) << args << ": " << r.err;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(device->value(3), 1234u);
}

TEST_F(CliDefinitionFolders, FoundNowhereTheErrorNamesEveryFolder) {
    CliRun r = run("list");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("No usable register definitions for VX20-95 in the current folder (Error loading parameter "
                         "file (LINE 0); tambrel.dat was looked for in: " +
                         fs::canonical(cwd.path()).string() + ", " + userDefs.string() + ", " + shipped.string() + ")"),
              std::string::npos)
        << r.err;
    // Numbers need no definitions.
    device->setValue(32, 4660);
    r = run("read 32");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "4660\n");
}

}  // namespace
}  // namespace vindelor::cli
