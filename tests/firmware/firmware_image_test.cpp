#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

#include "firmware/Crc.h"
#include "firmware/FirmwareImage.h"
#include "firmware/ImageWriter.h"
#include "firmware/TErr.h"
#include "support/TempDir.h"

namespace vindelor::firmware {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A header record with the given raw payload (header word and description bytes).
Bytes HeaderRecord(std::uint16_t mode, std::uint16_t hardware, const Bytes& payload) {
    return EncodeImageRecord(kHeaderRecord, std::uint32_t{mode} | (std::uint32_t{hardware} << 16),
                             payload);
}

std::string ReadError(FirmwareImage& image, const Bytes& file) {
    try {
        image.ReadImageData(file);
    } catch (const TErr& e) {
        EXPECT_EQ(e.Code, 0);
        return e.Text;
    }
    return "";
}

using testing::TempDir;

TEST(TErr, IsACopyableStandardExceptionLikeTheSerialError) {
    static_assert(std::is_base_of_v<std::exception, TErr>);
    static_assert(std::is_nothrow_copy_constructible_v<TErr>);
    const TErr e(0, "CRC Error in file");
    const TErr copy = e;
    EXPECT_EQ(copy.Code, 0);
    EXPECT_STREQ(copy.what(), "CRC Error in file");
    EXPECT_STREQ(copy.Detail, "");
}

TEST(TErr, CutsALongTextTo199Characters) {
    const std::string text = "Serial Error: " + std::string(400, 'x');
    const TErr e(0, text.c_str());
    EXPECT_EQ(std::string(e.Text).size(), 199u);
    EXPECT_EQ(std::string(e.Text), text.substr(0, 199));
}

TEST(ReadImage, AnEmptyFileGivesAnEmptyListAndMode0) {
    FirmwareImage image;
    EXPECT_EQ(ReadError(image, {}), "");
    EXPECT_TRUE(image.Records.empty());
    EXPECT_EQ(image.LoaderMode, 0);
    EXPECT_EQ(image.FlashRecordCount, 0);
}

TEST(ReadImage, KeepsEveryRecordInFileOrderWithoutItsCheckAndCountsFlashAndEpp) {
    ImageWriter w;
    w.AddHeader(
        {.LoaderMode = 1, .HardwareCode = 4, .HeaderWord = 0xBEEF, .Description = "Module 1.2"});
    w.AddErase(7)
        .AddFlash(0x100, Bytes{1, 2, 3})
        .AddFlash(0x200, Bytes{4})
        .AddEpp(0x10, Bytes{9, 8});
    w.AddRecord(9, 0x55, Bytes{0xAA});
    FirmwareImage image;
    ASSERT_EQ(ReadError(image, w.Bytes()), "");
    ASSERT_EQ(image.Records.size(), 6u);
    const std::uint16_t types[] = {1, 3, 2, 2, 4, 9};
    for (std::size_t k = 0; k < 6; ++k) EXPECT_EQ(image.Records[k].Type(), types[k]) << k;
    EXPECT_EQ(image.Records[1].Data()[0], 7);
    EXPECT_EQ(image.Records[2].Address(), 0x100u);
    EXPECT_EQ(image.Records[2].Length(), 3u);
    EXPECT_EQ(image.Records[2].Block().size(), 15u);
    EXPECT_EQ(Bytes(image.Records[2].Data().begin(), image.Records[2].Data().end()),
              (Bytes{1, 2, 3}));
    EXPECT_EQ(image.FlashRecordCount, 2);
    EXPECT_EQ(image.EppRecordCount, 1);
    EXPECT_EQ(image.LoaderMode, 1);
    EXPECT_EQ(image.HardwareCode, 4u);
    EXPECT_EQ(image.HeaderWord, 0xBEEFu);
    EXPECT_EQ(image.Description, "Module 1.2");
    EXPECT_EQ(image.RecordOffset(6), w.Bytes().size());
}

TEST(ReadImage, AZeroLengthRecordIs14BytesWithTheCheckOfItsHead) {
    const Bytes file = EncodeImageRecord(kFlashRecord, 0x1234, {});
    ASSERT_EQ(file.size(), 14u);
    EXPECT_EQ((file[12] << 8) | file[13], Crc16(file.data(), 12));
    FirmwareImage image;
    ASSERT_EQ(ReadError(image, Cat({file, file})), "");
    EXPECT_EQ(image.Records.size(), 2u);
    EXPECT_TRUE(image.Records[0].Data().empty());
}

TEST(ReadImage, FlippingAnyBitOfARecordIncludingItsCheckIsACrcError) {
    const Bytes good = EncodeImageRecord(kFlashRecord, 0x00ABCDEF, Bytes{0x11, 0x22, 0x33, 0x44});
    for (std::size_t bit = 0; bit < good.size() * 8; ++bit) {
        Bytes bad = good;
        bad[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        FirmwareImage image;
        EXPECT_EQ(ReadError(image, bad), "CRC Error in file") << "bit " << bit;
    }
}

TEST(ReadImage, StopsAtABadRecordAndKeepsTheRecordsBeforeIt) {
    const Bytes first = EncodeImageRecord(kFlashRecord, 0, Bytes{1});
    Bytes second = EncodeImageRecord(kEppRecord, 0, Bytes{2});
    second.back() ^= 1;
    const Bytes third = EncodeImageRecord(kFlashRecord, 0, Bytes{3});
    FirmwareImage image;
    EXPECT_EQ(ReadError(image, Cat({first, second, third})), "CRC Error in file");
    ASSERT_EQ(image.Records.size(), 1u);
    EXPECT_EQ(image.FlashRecordCount, 1) << "the counts describe the list that is left";
    EXPECT_EQ(image.EppRecordCount, 0);
    EXPECT_EQ(image.RecordOffset(image.Records.size()), first.size());
}

// Files that end inside a record: the reader never looks beyond the last byte.
struct Truncation {
    const char* name;
    std::size_t keep;  // bytes of the record kept
    std::uint32_t claimedLength;
};

class TruncatedImage : public ::testing::TestWithParam<Truncation> {};

TEST_P(TruncatedImage, IsACrcErrorAfterTheCompleteRecords) {
    const Bytes complete = EncodeImageRecord(kFlashRecord, 0, Bytes{5, 6});
    Bytes last = EncodeImageRecord(kFlashRecord, 0, Bytes(20, 0x5A));
    last[4] = static_cast<std::uint8_t>(GetParam().claimedLength);
    last[5] = static_cast<std::uint8_t>(GetParam().claimedLength >> 8);
    last[6] = static_cast<std::uint8_t>(GetParam().claimedLength >> 16);
    last[7] = static_cast<std::uint8_t>(GetParam().claimedLength >> 24);
    last.resize(GetParam().keep);
    // Exactly as large as the file, so that the address sanitizer sees any read beyond it.
    const Bytes file = Cat({complete, last});
    FirmwareImage image;
    EXPECT_EQ(ReadError(image, file), "CRC Error in file");
    EXPECT_EQ(image.Records.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TruncatedImage,
    ::testing::Values(Truncation{"OneByte", 1, 20}, Truncation{"LengthFieldCut", 6, 20},
                      Truncation{"HeadOnly", 12, 20}, Truncation{"ThirteenBytes", 13, 0},
                      Truncation{"CheckMissing", 32, 20}, Truncation{"LengthOneTooLong", 34, 21},
                      Truncation{"LengthFarBeyondTheFile", 34, 0xFFFFFFF0u},
                      Truncation{"LengthAllOnes", 34, 0xFFFFFFFFu}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ReadImage, TheLastHeaderRecordWins) {
    ImageWriter w;
    w.AddHeader({.LoaderMode = 2, .HardwareCode = 5, .HeaderWord = 1, .Description = "first"});
    w.AddFlash(0, Bytes{1});
    w.AddHeader({.LoaderMode = 3, .HardwareCode = 6, .HeaderWord = 2, .Description = "second"});
    FirmwareImage image;
    ASSERT_EQ(ReadError(image, w.Bytes()), "");
    EXPECT_EQ(image.LoaderMode, 3);
    EXPECT_EQ(image.HardwareCode, 6u);
    EXPECT_EQ(image.HeaderWord, 2u);
    EXPECT_EQ(image.Description, "second");
    EXPECT_EQ(image.Records.size(), 3u) << "header records stay in the list";
}

struct HeaderPayload {
    const char* name;
    Bytes payload;
    std::uint32_t headerWord;
    std::string description;
};

class HeaderPayloads : public ::testing::TestWithParam<HeaderPayload> {};

TEST_P(HeaderPayloads, GiveTheHeaderWordAndTheDescriptionWithinTheRecord) {
    const Bytes file = Cat({HeaderRecord(1, 2, GetParam().payload),
                            EncodeImageRecord(kFlashRecord, 0, Bytes{'Z', 0})});
    FirmwareImage image;
    ASSERT_EQ(ReadError(image, file), "");
    EXPECT_EQ(image.HeaderWord, GetParam().headerWord);
    EXPECT_EQ(image.Description, GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderPayloads,
    ::testing::Values(HeaderPayload{"Plain", {0x34, 0x12, 'a', 'b', 0}, 0x1234, "ab"},
                      HeaderPayload{"EndsAtTheFirstZero", {1, 0, 'a', 0, 'b', 'c', 0}, 1, "a"},
                      HeaderPayload{"NoZeroEndsWithTheRecord", {1, 0, 'x', 'y'}, 1, "xy"},
                      HeaderPayload{"EmptyText", {2, 0, 0}, 2, ""},
                      HeaderPayload{"OnlyTheHeaderWord", {2, 1}, 0x102, ""},
                      HeaderPayload{"HalfAHeaderWord", {7}, 7, ""},
                      HeaderPayload{"NoPayload", {}, 0, ""},
                      HeaderPayload{"EightBitText", {0, 0, 0xB5, 0xE6, 0}, 0, "\xB5\xE6"}),
    [](const auto& p) { return std::string(p.param.name); });

// Records the state seen when the reader sets the loader mode.
class RecordingImage : public FirmwareImage {
  public:
    void SetLoaderMode(int mode) override {
        FirmwareImage::SetLoaderMode(mode);
        seen.push_back({mode, HardwareCode, Description});
    }
    struct Seen {
        int mode;
        std::uint32_t hardware;
        std::string description;
    };
    std::vector<Seen> seen;
};

TEST(ReadImage, SetsTheLoaderModeAfterTheHardwareCodeAndBeforeTheDescription) {
    ImageWriter w;
    w.AddHeader({.LoaderMode = 1, .HardwareCode = 2, .HeaderWord = 0, .Description = "one"});
    w.AddHeader({.LoaderMode = 3, .HardwareCode = 5, .HeaderWord = 0, .Description = "two"});
    RecordingImage image;
    image.ReadImageData(w.Bytes());
    ASSERT_EQ(image.seen.size(), 2u);
    EXPECT_EQ(image.seen[0].mode, 1);
    EXPECT_EQ(image.seen[0].hardware, 2u);
    EXPECT_EQ(image.seen[0].description, "");
    EXPECT_EQ(image.seen[1].mode, 3);
    EXPECT_EQ(image.seen[1].hardware, 5u);
    EXPECT_EQ(image.seen[1].description, "one");
}

TEST(ReadImage, PassesAnyLoaderModeOfTheFileToTheLoader) {
    RecordingImage image;
    image.ReadImageData(HeaderRecord(0xFFFF, 0xFFFF, {}));
    ASSERT_EQ(image.seen.size(), 1u);
    EXPECT_EQ(image.seen[0].mode, 0xFFFF);
    EXPECT_EQ(image.HardwareCode, 0xFFFFu);
}

TEST(ReadImage, WithoutAHeaderRecordLeavesTheModeAlone) {
    RecordingImage image;
    image.ReadImageData(EncodeImageRecord(kFlashRecord, 0, Bytes{1}));
    EXPECT_TRUE(image.seen.empty());
    EXPECT_EQ(image.LoaderMode, 0);
}

TEST(ReadImage, ANewReadResetsThePatchFlagsAndTheSentCounters) {
    FirmwareImage image;
    image.PatchWanted = image.PatchDone = true;
    image.FlashRecordsSent = 5;
    image.EppRecordsSent = 3;
    image.ReadImageData(EncodeImageRecord(kFlashRecord, 0, Bytes{1}));
    EXPECT_FALSE(image.PatchWanted);
    EXPECT_FALSE(image.PatchDone);
    EXPECT_EQ(image.FlashRecordsSent, 0);
    EXPECT_EQ(image.EppRecordsSent, 0);
}

TEST(ReadImage, ReadsAFileFromDisk) {
    TempDir dir;
    ImageWriter w;
    w.AddHeader({.LoaderMode = 2, .HardwareCode = 0, .HeaderWord = 0, .Description = "disk"})
        .AddFlash(0, Bytes(300, 1));
    FirmwareImage image;
    image.ReadImage(dir.write("a.vxf", w.Bytes()));
    EXPECT_EQ(image.Description, "disk");
    EXPECT_EQ(image.FlashRecordCount, 1);
}

class UnreadableImage : public ::testing::TestWithParam<const char*> {};

TEST_P(UnreadableImage, IsErrorReadingTheFileAndEmptiesTheList) {
    TempDir dir;
    const std::string path = dir.path().string() + GetParam();
    FirmwareImage image;
    image.ReadImageData(EncodeImageRecord(kFlashRecord, 0, Bytes{1}));
    ASSERT_EQ(image.FlashRecordCount, 1);
    try {
        image.ReadImage(path);
        FAIL() << "no error";
    } catch (const TErr& e) {
        EXPECT_STREQ(e.Text, "Error reading the file");
        EXPECT_EQ(e.Code, 0);
    }
    EXPECT_TRUE(image.Records.empty());
    EXPECT_EQ(image.FlashRecordCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Paths, UnreadableImage,
                         ::testing::Values("/missing.vxf", "/no-folder/a.vxf",
                                           ""),  // "": the folder itself
                         [](const auto& p) {
                             return std::string(*p.param ? "Missing" : "AFolder") +
                                    std::to_string(p.index);
                         });

TEST(ImageRecord, RefusesABlockThatDisagreesWithItsLengthField) {
    EXPECT_THROW(ImageRecord(Bytes(11, 0)), std::invalid_argument);
    Bytes block = EncodeImageRecord(kFlashRecord, 0, Bytes{1, 2});
    block.resize(block.size() - 3);  // drops the check and one payload byte
    EXPECT_THROW(ImageRecord{block}, std::invalid_argument);
}

TEST(ImageWriter, LaysOutTheHeaderRecordAsTheReaderExpects) {
    ImageWriter w;
    w.AddHeader(
        {.LoaderMode = 3, .HardwareCode = 0x0102, .HeaderWord = 0x0A0B, .Description = "x"});
    const Bytes expectedHead = {0, 0, 1, 0, 4, 0, 0, 0, 3, 0, 0x02, 0x01, 0x0B, 0x0A, 'x', 0};
    ASSERT_EQ(w.Bytes().size(), expectedHead.size() + 2);
    EXPECT_EQ(Bytes(w.Bytes().begin(), w.Bytes().end() - 2), expectedHead);
    EXPECT_EQ(Crc16(w.Bytes()), 0);
}

TEST(ImageWriter, RefusesHeadersTheReaderWouldMisread) {
    ImageWriter w;
    EXPECT_THROW(
        w.AddHeader({.LoaderMode = 4, .HardwareCode = 0, .HeaderWord = 0, .Description = ""}),
        std::invalid_argument);
    EXPECT_THROW(w.AddHeader({.LoaderMode = 0,
                              .HardwareCode = 0,
                              .HeaderWord = 0,
                              .Description = std::string("a\0b", 3)}),
                 std::invalid_argument);
    EXPECT_TRUE(w.Bytes().empty());
}

TEST(ImageWriter, EraseRecordsCarryTheBlockNumberAsTheirOnlyByte) {
    ImageWriter w;
    w.AddErase(200);
    FirmwareImage image;
    image.ReadImageData(w.Bytes());
    ASSERT_EQ(image.Records.size(), 1u);
    EXPECT_EQ(image.Records[0].Type(), kEraseRecord);
    EXPECT_EQ(image.Records[0].Length(), 1u);
    EXPECT_EQ(image.Records[0].Data()[0], 200);
}

TEST(ImageWriter, BlockCheckAppendsTheCrcHighByteFirst) {
    const Bytes block = WithBlockCheck(Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'});
    EXPECT_EQ(block.size(), 11u);
    EXPECT_EQ(block[9], 0x31);
    EXPECT_EQ(block[10], 0xC3);
}

}  // namespace
}  // namespace vindelor::firmware
