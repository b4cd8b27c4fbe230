// vindelor-cli program build, list and write, run as a program.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "support/RunCli.h"
#include "support/SimFixture.h"
#include "support/TempDir.h"

namespace vindelor::cli {
namespace {

using testing::CliRun;
using testing::RunCli;
using Bytes = std::vector<std::uint8_t>;

const Bytes kSampleImage = {0x05, 0x35, 0x62, 0x02, 0x08, 0x11, 0x05, 0x34, 0x62, 0xF6, 0x08, 0x01, 0x60, 0xF2};
const std::string kSampleText = VINDELOR_TEST_DATA "/program/sample.vpt";

// A scratch folder per test; the CLI runs in it so the default log lands there too.
class CliProgram : public ::testing::Test {
protected:

    CliRun Run(const std::string& args) { return RunCli(args, "cd '" + dir.string() + "' &&"); }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    std::string Write(const std::string& name, const std::string& content) const {
        std::ofstream(Path(name), std::ios::binary) << content;
        return Path(name);
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(Path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    testing::TempDir tmp;
    const std::filesystem::path& dir = tmp.path();
};

TEST_F(CliProgram, BuildWritesTheImageAndTheLogInTheCurrentFolder) {
    CliRun r = Run("program build " + kSampleText + " -o sample.bin");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Wrote 14 bytes to sample.bin\n");
    const std::string image = Read("sample.bin");
    EXPECT_EQ(Bytes(image.begin(), image.end()), kSampleImage);
    const std::string log = Read("VarpWare.Log");
    EXPECT_EQ(log.rfind("\r\nProgram without small jumps, and without destinations:\r\n", 0), 0u);
    EXPECT_NE(log.find(" Jump Command at 0x000C changed to short\r\n"), std::string::npos);
    EXPECT_EQ(log.substr(log.size() - 13), "None found :D");
}

TEST_F(CliProgram, BuildHelpPointsToTheDescriptionOfTheProgramText) {
    CliRun r = Run("program build --help");
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream readme(std::string(VINDELOR_SOURCE_DIR) + "/README.md");
    const std::string text{std::istreambuf_iterator<char>(readme),
                           std::istreambuf_iterator<char>()};
    EXPECT_NE(text.find("\n## Module programs: the program text\n"), std::string::npos);
    EXPECT_NE(r.out.find("\"Module programs: the program text\" in README.md"), std::string::npos)
        << r.out;
    // Every document the help names is there.
    for (std::size_t end = r.out.find(".md"); end != std::string::npos;
         end = r.out.find(".md", end + 1)) {
        std::size_t begin = end;
        while (begin > 0 && r.out[begin - 1] != ' ' && r.out[begin - 1] != '(') --begin;
        const std::string name = r.out.substr(begin, end + 3 - begin);
        EXPECT_TRUE(std::filesystem::exists(std::string(VINDELOR_SOURCE_DIR) + "/" + name)) << name;
    }
}

TEST_F(CliProgram, BuildTakesAnotherLogPath) {
    ASSERT_EQ(Run("program build " + kSampleText + " -o a.bin --log build.log").status, 0);
    EXPECT_TRUE(std::filesystem::exists(Path("build.log")));
    EXPECT_FALSE(std::filesystem::exists(Path("VarpWare.Log")));
}

TEST_F(CliProgram, BuildErrorsNameFileAndLineAndWriteNoImage) {
    const std::string text = Write("bad.vpt", "# two good lines\n0: end\n0: jump 7 0\n");
    CliRun r = Run("program build bad.vpt -o bad.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vindelor-cli: bad.vpt:3: Jump condition 7 is outside 0 to 3\n");
    EXPECT_FALSE(std::filesystem::exists(Path("bad.bin")));
}

TEST_F(CliProgram, BuildOfAMissingFileOrUnwritableOutputIsStatusOne) {
    CliRun missing = Run("program build none.vpt -o x.bin");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("none.vpt"), std::string::npos) << missing.err;
    CliRun unwritable = Run("program build " + kSampleText + " -o no-folder/x.bin");
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("no-folder/x.bin"), std::string::npos) << unwritable.err;
    CliRun noLog = Run("program build " + kSampleText + " -o x.bin --log no-folder/VarpWare.Log");
    EXPECT_EQ(noLog.status, 1);
    EXPECT_NE(noLog.err.find("program log"), std::string::npos) << noLog.err;
    EXPECT_FALSE(std::filesystem::exists(Path("x.bin")));
}

TEST_F(CliProgram, ListPrintsOneLinePerCommand) {
    ASSERT_EQ(Run("program build " + kSampleText + " -o sample.bin").status, 0);
    CliRun r = Run("program list sample.bin");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "000:0000: 0x05 0x35 Test input 5 Edge: 1 High: 1\n"
              "001:0002: 0x62 0x02 Jump condition: 1 Rel: 0x02 (2 dec)\n"
              "002:0004: 0x08 0x11 Output action\n"
              "003:0006: 0x05 0x34 Test input 4 Edge: 1 High: 1\n"
              "004:0008: 0x62 0xF6 Jump condition: 1 Rel: 0xF6 (-10 dec)\n"
              "005:000A: 0x08 0x01 Output action\n"
              "006:000C: 0x60 0xF2 Jump condition: 0 Rel: 0xF2 (-14 dec)\n");
}

TEST_F(CliProgram, ListOfAnImageCutInsideACommandSaysSo) {
    Write("cut.bin", std::string("\x00\x61\x34", 3));
    CliRun r = Run("program list cut.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "000:0000: 0x00 End of program\n001:0001: 0x61 0x34 Jump condition: 0 Abs: 0x0034\n");
    EXPECT_EQ(r.err, "vindelor-cli: The image ends inside its last command, at address 0x0001\n");
}

TEST_F(CliProgram, ListOfAnEmptyImagePrintsNothing) {
    Write("empty.bin", "");
    CliRun r = Run("program list empty.bin");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(CliProgram, UsageErrorsAreStatusTwo) {
    EXPECT_EQ(Run("program").status, 2);
    EXPECT_EQ(Run("program build " + kSampleText).status, 2);  // no -o
    EXPECT_EQ(Run("program list").status, 2);
}

class CliProgramWrite : public testing::CliSimFixture {
protected:
    testing::TempDir tmp;
    const std::filesystem::path& dir = tmp.path();
};

TEST_F(CliProgramWrite, WriteSendsTheImageInChunksByteForByte) {
    Bytes image(129);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(0xFF - i);
    const std::string file = (dir / "prog.bin").string();
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 129);

    CliRun r = RunCli(portArg() + " --address 255 --echo program write " + file);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Sent 129 bytes in 2 chunks\n");
    // Waits for the device to take both frames; only a broken link waits the whole time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (device->frames().size() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const auto frames = device->frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].letter, 98);
    EXPECT_EQ(frames[0].destination, 255);
    Bytes first = {129, 0};
    first.insert(first.end(), image.begin(), image.begin() + 128);
    EXPECT_EQ(frames[0].body, first);
    EXPECT_EQ(frames[1].body, (Bytes {2, 1, image[128]}));
    // Byte for byte on the wire, as echoed: the second frame whole.
    EXPECT_NE(r.err.find("send: <62><62><62><FF><00><02><FD><01><FE><7F><80><AA><AA>"), std::string::npos) << r.err;
}

TEST_F(CliProgramWrite, WriteOfAnEmptyFileSendsNothing) {
    const std::string file = (dir / "empty.bin").string();
    std::ofstream(file, std::ios::binary).flush();
    CliRun r = RunCli(portArg() + " program write " + file);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Sent 0 bytes in 0 chunks\n");
    EXPECT_TRUE(device->frames().empty());
}

TEST_F(CliProgramWrite, WriteOfAMissingFileFailsBeforeAnythingIsSent) {
    CliRun r = RunCli(portArg() + " program write " + (dir / "missing.bin").string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.bin"), std::string::npos) << r.err;
    EXPECT_TRUE(sim->received().empty());
}

}  // namespace
}  // namespace vindelor::cli
