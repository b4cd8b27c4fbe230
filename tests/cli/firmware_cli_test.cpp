// vindelor-cli's firmware file commands: hex2bin, image info and image make.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "firmware/FirmwareImage.h"
#include "firmware/ImageWriter.h"
#include "support/RunCli.h"
#include "support/TempDir.h"

namespace vindelor::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::CliRun;
using testing::RunCli;

std::string Fixture(const std::string& name) {
    return std::string(VINDELOR_TEST_DATA) + "/firmware/" + name;
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FirmwareCli : public ::testing::Test {
  protected:
    std::string Path(const std::string& name) const { return dir.file(name); }
    std::string Write(const std::string& name, const std::string& text) const { return dir.write(name, text); }
    std::string Write(const std::string& name, const Bytes& bytes) const {
        return Write(name, std::string(bytes.begin(), bytes.end()));
    }

    testing::TempDir dir;
};

TEST_F(FirmwareCli, Hex2BinWritesTheBytesObjcopyReadsBack) {
    const CliRun r = RunCli("hex2bin " + Fixture("objcopy-0.hex") + " " + Path("out.bin"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(Path("out.bin")), ReadBytes(Fixture("counting-300.bin")));
    EXPECT_NE(r.out.find("300 bytes"), std::string::npos) << r.out;
}

TEST_F(FirmwareCli, Hex2BinFillsTheGapsAndWritesUpToTheHighestAddress) {
    const std::string in = Write("gap.hex", ":0100020011EC\n:0100050022D8\n:00000001FF\n");
    CliRun r = RunCli("hex2bin " + in + " " + Path("zero.bin"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(Path("zero.bin")), (Bytes{0, 0, 0x11, 0, 0, 0x22}));
    r = RunCli("hex2bin " + in + " " + Path("ff.bin") + " --fill 0xFF");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(Path("ff.bin")), (Bytes{0xFF, 0xFF, 0x11, 0xFF, 0xFF, 0x22}));
}

TEST_F(FirmwareCli, Hex2BinCapacityLimitsTheImage) {
    const std::string in = Fixture("objcopy-0.hex");
    CliRun r = RunCli("hex2bin " + in + " " + Path("a.bin") + " --capacity 300");
    EXPECT_EQ(r.status, 0) << r.err;
    r = RunCli("hex2bin " + in + " " + Path("b.bin") + " --capacity 299");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Buffer overflow loading hexfile"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(Path("b.bin"))) << "nothing is written for a bad file";
}

struct BadHex {
    const char* name;
    const char* text;
    const char* message;
};

class Hex2BinBadFiles : public FirmwareCli, public ::testing::WithParamInterface<BadHex> {};

TEST_P(Hex2BinBadFiles, EndWithStatusOneAndTheLoadersMessage) {
    const std::string out = Path("out.bin");
    Write("out.bin", std::string("old"));
    const CliRun r = RunCli("hex2bin " + Write("bad.hex", GetParam().text) + " " + out);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_EQ(ReadBytes(out), (Bytes{'o', 'l', 'd'})) << "the old output stays";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Hex2BinBadFiles,
    ::testing::Values(
        BadHex{"Checksum", ":0100000011EF\n", "Checksum error in hexfile"},
        BadHex{"Overflow", ":020000040008F2\n:0100000011EE\n", "Buffer overflow loading hexfile"},
        BadHex{"StartAddressRecord", ":0400000312345678E5\n", "bad.hex:1: Format error in hexfile"},
        BadHex{"CutShort", ":00000001FF\n:01000000", "bad.hex:2: Format error in hexfile"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(FirmwareCli, Hex2BinOfAMissingFileIsStatusOne) {
    const CliRun r = RunCli("hex2bin " + Path("missing.hex") + " " + Path("out.bin"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.hex"), std::string::npos) << r.err;
}

struct BadUsage {
    const char* name;
    const char* args;
};

class FirmwareCliUsage : public FirmwareCli, public ::testing::WithParamInterface<BadUsage> {};

TEST_P(FirmwareCliUsage, IsStatusTwo) {
    const CliRun r = RunCli(GetParam().args);
    EXPECT_EQ(r.status, 2) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirmwareCliUsage,
    ::testing::Values(BadUsage{"Hex2BinWithoutOutput", "hex2bin in.hex"},
                      BadUsage{"FillAbove255", "hex2bin in.hex out.bin --fill 256"},
                      BadUsage{"CapacityNotANumber", "hex2bin in.hex out.bin --capacity lots"},
                      BadUsage{"NegativeCapacity", "hex2bin in.hex out.bin --capacity -1"},
                      BadUsage{"ImageWithoutSubcommand", "image"},
                      BadUsage{"MakeModeAbove3", "image make out.vxf --mode 4"},
                      BadUsage{"EraseAbove255", "image make out.vxf --erase 256"},
                      BadUsage{"FlashWithoutAddress", "image make out.vxf --flash data.bin"},
                      BadUsage{"DescriptionBeyondWindows1252",
                               "image make out.vxf --description 'a \xE2\x86\x92 b'"}),
    [](const auto& p) { return std::string(p.param.name); });

// A record the loader mode's announce cannot carry is refused, and no file is written: a
// 70,000-byte block (16-bit length), a mode-1 block or an EPP block at 0x10000 (16-bit
// address), a block under the two bytes of its own check (modes 0 and 3).
TEST_F(FirmwareCli, ImageMakeRefusesRecordsTheAnnounceCannotCarry) {
    const std::string big = Write("big.bin", Bytes(70000, 0x11));
    const std::string one = Write("one.bin", Bytes {0x22});
    const std::string small = Write("small.bin", Bytes(16, 0x33));
    struct Case {
        std::string args;
        const char* reason;
    };
    const Case cases[] = {
        {"--mode 0 --flash 0=" + big, "16-bit length"},
        {"--mode 1 --flash 0x10000=" + small, "16-bit address"},
        {"--mode 1 --epp 0x10000=" + small, "16-bit address"},
        {"--mode 3 --flash 0x1000000=" + small, "24-bit address"},
        {"--mode 0 --flash 0=" + one, "shorter than the 2 bytes"},
        {"--no-header --flash 0=" + one, "shorter than the 2 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const std::string out = Path("refused.vxf");
        const CliRun r = RunCli("image make " + out + " " + c.args);
        EXPECT_EQ(r.status, 2) << r.out;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    // The same data in blocks that fit, and an EPP block mode 0 never sends, are written.
    EXPECT_EQ(RunCli("image make " + Path("fits.vxf") + " --mode 0 --block-size 4096 --flash 0=" + big).status, 0);
    EXPECT_EQ(RunCli("image make " + Path("epp.vxf") + " --mode 0 --epp 0x10000=" + small).status, 0);
}

TEST_F(FirmwareCli, ImageMakeBuildsWhatTheReaderReadsBack) {
    Bytes data(70);
    for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<std::uint8_t>(k * 3);
    const std::string bin = Write("data.bin", data);
    const std::string out = Path("fw.vxf");
    const CliRun r =
        RunCli("image make " + out + " --mode 1 --hardware 4 --header-word 0x1234" +
               " --description 'VXM-NC 2.1 \xC2\xB5 \xE2\x80\x93 \xE2\x80\x99\xE2\x82\xAC'" +
               " --erase 2 --erase 3 --flash 0x400=" + bin +
               " --block-size 32 --block-check --epp 0x10=" + bin);
    ASSERT_EQ(r.status, 0) << r.err;

    firmware::FirmwareImage image;
    image.ReadImage(out);
    EXPECT_EQ(image.LoaderMode, 1);
    EXPECT_EQ(image.HardwareCode, 4u);
    EXPECT_EQ(image.HeaderWord, 0x1234u);
    EXPECT_EQ(image.Description, "VXM-NC 2.1 \xB5 \x96 \x92\x80");  // Windows-1252: µ – ’€
    // header, 2 erase, 3 flash blocks of 32 + 32 + 6 bytes with their checks, 3 EPP blocks
    ASSERT_EQ(image.Records.size(), 9u);
    EXPECT_EQ(image.FlashRecordCount, 3);
    EXPECT_EQ(image.EppRecordCount, 3);
    EXPECT_EQ(image.Records[1].Data()[0], 2);
    EXPECT_EQ(image.Records[2].Data()[0], 3);
    const auto& last = image.Records[5];
    EXPECT_EQ(last.Address(), 0x440u);
    const Bytes expected = firmware::WithBlockCheck(Bytes(data.begin() + 64, data.end()));
    EXPECT_EQ(Bytes(last.Data().begin(), last.Data().end()), expected);
    EXPECT_EQ(image.Records[8].Address(), 0x50u);
    EXPECT_EQ(image.Records[8].Length(), 6u);
}

TEST_F(FirmwareCli, ImageInfoListsTheHeaderAndEveryRecord) {
    firmware::ImageWriter w;
    w.AddHeader({.LoaderMode = 3,
                 .HardwareCode = 5,
                 .HeaderWord = 0xABCD,
                 .Description = "Motor \xB5\x01 \x92\x96\x80 \x81\\"});
    w.AddErase(9).AddFlash(0x1000, Bytes(16, 1)).AddEpp(0x20, Bytes(4, 2));
    const CliRun r = RunCli("image info " + Write("fw.vxf", w.Bytes()));
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* line :
         {"loader mode: 3\n", "hardware code: 5\n", "header word: 0xABCD\n",
          "description: Motor \xC2\xB5\\x01 \xE2\x80\x99\xE2\x80\x93\xE2\x82\xAC \\x81\\\\\n",
          "records: 4 (flash 1, EPP 1)\n", "block 9", "flash     0x00001000  16\n",
          "EPP       0x00000020  4\n", "check: OK\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << "missing " << line << " in\n" << r.out;
    // Each record's line starts with its offset in the file.
    firmware::FirmwareImage image;
    image.ReadImageData(w.Bytes());
    std::size_t at = r.out.find("offset      type");
    for (std::size_t k = 0; k < image.Records.size(); ++k) {
        at = r.out.find('\n', at) + 1;
        char offset[16];
        std::snprintf(offset, sizeof offset, "0x%08zX  ", image.RecordOffset(k));
        EXPECT_EQ(r.out.compare(at, 12, offset), 0) << "record " << k << " in\n" << r.out;
    }
}

TEST_F(FirmwareCli, ImageInfoAsJsonIsOneObject) {
    firmware::ImageWriter w;
    w.AddHeader({.LoaderMode = 3, .HardwareCode = 5, .HeaderWord = 0xABCD, .Description = "M\x80\x01\""});
    w.AddErase(9).AddFlash(0x1000, Bytes(16, 1));
    CliRun r = RunCli("image info --json " + Write("fw.vxf", w.Bytes()));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"file\":\"" + Path("fw.vxf") +
                         "\",\"header\":{\"loader_mode\":3,\"hardware_code\":5,\"header_word\":43981,"
                         "\"description\":\"M\xE2\x82\xAC\\u0001\\\"\"},\"flash_records\":1,\"epp_records\":0,\"records\":["
                         "{\"offset\":0,\"type\":\"header\",\"type_code\":1,\"address\":327683,\"length\":7},"
                         "{\"offset\":21,\"type\":\"erase\",\"type_code\":3,\"address\":0,\"length\":1,\"block\":9},"
                         "{\"offset\":36,\"type\":\"flash\",\"type_code\":2,\"address\":4096,\"length\":16}],"
                         "\"ok\":true,\"error\":null,\"error_offset\":null}\n");

    // A bad file: the records read so far, where the check failed, status 1.
    w = firmware::ImageWriter();
    w.AddFlash(0, Bytes(10, 7)).AddFlash(10, Bytes(10, 8));
    Bytes bytes = w.Bytes();
    bytes[24 + 14] ^= 0x40;  // inside the second record's payload
    r = RunCli("image info --json " + Write("bad.vxf", bytes));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\"ok\":false,\"error\":\"CRC Error in file\",\"error_offset\":24}\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("CRC Error in file"), std::string::npos) << r.err;
}

TEST_F(FirmwareCli, ImageInfoOfABadFileShowsWhereTheCheckFailedAndIsStatusOne) {
    firmware::ImageWriter w;
    w.AddFlash(0, Bytes(10, 7)).AddFlash(10, Bytes(10, 8));
    Bytes bytes = w.Bytes();
    bytes[24 + 14] ^= 0x40;  // inside the second record's payload
    const CliRun r = RunCli("image info " + Write("bad.vxf", bytes));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("header: none"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("check: CRC Error in file at offset 0x00000018"), std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("CRC Error in file"), std::string::npos) << r.err;
}

TEST_F(FirmwareCli, ImageInfoOfAMissingFileIsErrorReadingTheFile) {
    const CliRun r = RunCli("image info " + Path("missing.vxf"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error reading the file"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace vindelor::cli
