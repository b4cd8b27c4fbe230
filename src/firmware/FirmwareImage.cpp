#include "firmware/FirmwareImage.h"

#include <algorithm>
#include <stdexcept>

#include "firmware/Crc.h"
#include "firmware/TErr.h"
#include "util/SafeFile.h"

namespace vindelor::firmware {

namespace {

std::uint32_t Le16(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8);
}
std::uint32_t Le32(const std::uint8_t* p) {
    return Le16(p) | (Le16(p + 2) << 16);
}

}  // namespace

ImageRecord::ImageRecord(std::vector<std::uint8_t> block) : block_(std::move(block)) {
    if (block_.size() < kRecordHeadSize ||
        Le32(block_.data() + 4) != block_.size() - kRecordHeadSize)
        throw std::invalid_argument("image record block does not match its length field");
}

std::uint16_t ImageRecord::Type() const {
    return static_cast<std::uint16_t>(Le16(block_.data() + 2));
}
std::uint32_t ImageRecord::Length() const {
    return Le32(block_.data() + 4);
}
std::uint32_t ImageRecord::Address() const {
    return Le32(block_.data() + 8);
}

std::span<const std::uint8_t> ImageRecord::Data() const {
    return std::span<const std::uint8_t>(block_).subspan(kRecordHeadSize);
}
std::span<std::uint8_t> ImageRecord::Data() {
    return std::span<std::uint8_t>(block_).subspan(kRecordHeadSize);
}

void FirmwareImage::ReadImage(const std::string& fileName) {
    Records.clear();
    ResetCounters();
    std::vector<std::uint8_t> bytes;
    if (util::ReadFileBytes(fileName, bytes) != 0) throw TErr(0, "Error reading the file");
    ReadImageData(bytes);
}

void FirmwareImage::ReadImageData(std::span<const std::uint8_t> bytes) {
    Records.clear();
    // The counters describe the list even when a bad record stops the read, so that a caller
    // that looks at them after the error never sees counts of an older file.
    struct CountOnExit {
        FirmwareImage* image;
        ~CountOnExit() { image->ResetCounters(); }
    } countOnExit{this};

    const std::size_t size = bytes.size();
    std::size_t p = 0;
    while (p < size) {
        // A record needs its head and check; a length that runs past the end of the file cannot
        // be checked and is reported like a failed check.
        const std::size_t left = size - p;
        if (left < kRecordHeadSize + kRecordCheckSize) throw TErr(0, "CRC Error in file");
        const std::uint64_t length = Le32(bytes.data() + p + 4);
        if (length > left - kRecordHeadSize - kRecordCheckSize) throw TErr(0, "CRC Error in file");
        const std::size_t body = kRecordHeadSize + static_cast<std::size_t>(length);
        if (Crc16(bytes.data() + p, body + kRecordCheckSize) != 0)
            throw TErr(0, "CRC Error in file");

        Records.emplace_back(
            std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(p),
                                      bytes.begin() + static_cast<std::ptrdiff_t>(p + body)));
        if (Records.back().Type() == kHeaderRecord) TakeHeader(Records.back());
        p += body + kRecordCheckSize;
    }
}

void FirmwareImage::TakeHeader(const ImageRecord& record) {
    const std::uint8_t* head = record.Block().data();
    HardwareCode = Le16(head + 10);
    SetLoaderMode(static_cast<std::int32_t>(Le16(head + 8)));
    // The header word and the description live in the payload; a payload too short to hold
    // them gives 0 and an empty text instead of bytes from beyond the record.
    const auto data = record.Data();
    const std::size_t textStart = std::min<std::size_t>(2, data.size());
    const auto text = data.subspan(textStart);
    const auto end = std::find(text.begin(), text.end(), std::uint8_t{0});
    Description.assign(text.begin(), end);
    std::uint32_t word = 0;
    if (data.size() >= 1) word |= data[0];
    if (data.size() >= 2) word |= std::uint32_t{data[1]} << 8;
    HeaderWord = word;
}

void FirmwareImage::ResetCounters() {
    PatchWanted = false;
    PatchDone = false;
    FlashRecordsSent = 0;
    EppRecordsSent = 0;
    FlashRecordCount = static_cast<std::int32_t>(
        std::count_if(Records.begin(), Records.end(),
                      [](const ImageRecord& r) { return r.Type() == kFlashRecord; }));
    EppRecordCount = static_cast<std::int32_t>(
        std::count_if(Records.begin(), Records.end(),
                      [](const ImageRecord& r) { return r.Type() == kEppRecord; }));
}

std::size_t FirmwareImage::RecordOffset(std::size_t index) const {
    std::size_t offset = 0;
    for (std::size_t k = 0; k < index && k < Records.size(); ++k)
        offset += Records[k].Block().size() + kRecordCheckSize;
    return offset;
}

}  // namespace vindelor::firmware
