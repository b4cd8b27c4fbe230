#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vindelor::firmware {

// Record types of a firmware image file (".vxf").
enum RecordType : std::uint16_t {
    kHeaderRecord = 1,  // loader mode, hardware code, header word, description
    kFlashRecord = 2,   // payload written to flash at Address
    kEraseRecord = 3,   // first payload byte: the flash block to erase
    kEppRecord = 4,     // payload for the device's EPP memory at Address
};

// Layout of one record in the file: reserved (2), Type (2), Length L (4), Address (4), L data
// bytes, Check (2). Numbers are little-endian except the check, which is the CRC-16/XMODEM of
// everything before it, high byte first.
inline constexpr std::size_t kRecordHeadSize = 12;
inline constexpr std::size_t kRecordCheckSize = 2;

// One record as the loader keeps it: the record's bytes up to (not including) its check.
class ImageRecord {
  public:
    // `block` is a record's first L + 12 bytes. Throws std::invalid_argument when it is shorter
    // than the 12-byte head or its length field disagrees with its size.
    explicit ImageRecord(std::vector<std::uint8_t> block);

    std::uint16_t Type() const;
    std::uint32_t Length() const;
    std::uint32_t Address() const;
    // The L payload bytes. Writable, so the loader can patch a block before it is sent.
    std::span<const std::uint8_t> Data() const;
    std::span<std::uint8_t> Data();
    const std::vector<std::uint8_t>& Block() const { return block_; }

  private:
    std::vector<std::uint8_t> block_;
};

// A firmware image as the loader needs it: the records in file order, the header fields and the
// counters of the transfer. The loader thread derives from this class (or holds one) and takes
// the loader mode through SetLoaderMode, which the reader calls for every header record.
class FirmwareImage {
  public:
    FirmwareImage() = default;
    virtual ~FirmwareImage() = default;
    FirmwareImage(const FirmwareImage&) = default;
    FirmwareImage& operator=(const FirmwareImage&) = default;

    // Replaces the record list with the records of the file. Throws TErr(0, "Error reading the
    // file") when the file cannot be read (the list is then empty) and TErr(0, "CRC Error in
    // file") at the first record whose check fails or that does not fit in the file; the
    // records before it stay in the list. Header fields are only changed by header records.
    void ReadImage(const std::string& fileName);
    // The same for a file already in memory.
    void ReadImageData(std::span<const std::uint8_t> bytes);

    // Called for each header record, after HardwareCode has been taken from it and before
    // Description and HeaderWord, with the record's raw loader mode. This one stores it.
    virtual void SetLoaderMode(int mode) { LoaderMode = mode; }

    // File offset of the record at `index` of Records (the sum of the sizes before it); for the
    // offset of the record that stopped a read, pass Records.size().
    std::size_t RecordOffset(std::size_t index) const;

    std::vector<ImageRecord> Records;
    std::int32_t FlashRecordCount = 0;  // type-2 records in the list after a read
    std::int32_t EppRecordCount = 0;    // type-4 records in the list after a read
    std::int32_t FlashRecordsSent = 0;
    std::int32_t EppRecordsSent = 0;
    std::int32_t LoaderMode = 0;
    std::uint32_t HardwareCode = 0;
    std::uint32_t HeaderWord = 0;
    std::string Description;  // 8-bit text, as in the file
    bool PatchWanted = false;
    bool PatchDone = false;

  private:
    void TakeHeader(const ImageRecord& record);
    void ResetCounters();
};

}  // namespace vindelor::firmware
