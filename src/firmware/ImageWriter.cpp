#include "firmware/ImageWriter.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "firmware/Crc.h"
#include "firmware/FirmwareImage.h"

namespace vindelor::firmware {

namespace {

void PutLe16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFFu));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFFu));
}

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    PutLe16(out, v & 0xFFFFu);
    PutLe16(out, v >> 16);
}

void PutCheck(std::vector<std::uint8_t>& out, std::size_t from) {
    const std::uint16_t check = Crc16(out.data() + from, out.size() - from);
    out.push_back(static_cast<std::uint8_t>(check >> 8));
    out.push_back(static_cast<std::uint8_t>(check & 0xFFu));
}

void AppendRecord(std::vector<std::uint8_t>& out, std::uint16_t type, std::uint32_t address,
                  std::span<const std::uint8_t> data) {
    if (data.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::invalid_argument("image record payload too large");
    const std::size_t start = out.size();
    PutLe16(out, 0);  // reserved
    PutLe16(out, type);
    PutLe32(out, static_cast<std::uint32_t>(data.size()));
    PutLe32(out, address);
    out.insert(out.end(), data.begin(), data.end());
    PutCheck(out, start);
}

}  // namespace

std::vector<std::uint8_t> EncodeImageRecord(std::uint16_t type, std::uint32_t address,
                                            std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> out;
    out.reserve(kRecordHeadSize + data.size() + kRecordCheckSize);
    AppendRecord(out, type, address, data);
    return out;
}

ImageWriter& ImageWriter::AddHeader(const ImageHeader& header) {
    if (header.LoaderMode > 3) throw std::invalid_argument("loader mode must be 0 to 3");
    if (header.Description.find('\0') != std::string::npos)
        throw std::invalid_argument("the description may not hold a zero byte");
    std::vector<std::uint8_t> payload;
    PutLe16(payload, header.HeaderWord);
    payload.insert(payload.end(), header.Description.begin(), header.Description.end());
    payload.push_back(0);
    // The header record's address field carries the loader mode and the hardware code.
    const std::uint32_t address =
        std::uint32_t{header.LoaderMode} | (std::uint32_t{header.HardwareCode} << 16);
    return AddRecord(kHeaderRecord, address, payload);
}

ImageWriter& ImageWriter::AddErase(std::uint8_t block) {
    const std::uint8_t data[1] = {block};
    return AddRecord(kEraseRecord, 0, data);
}

ImageWriter& ImageWriter::AddFlash(std::uint32_t address, std::span<const std::uint8_t> data) {
    return AddRecord(kFlashRecord, address, data);
}

ImageWriter& ImageWriter::AddEpp(std::uint32_t address, std::span<const std::uint8_t> data) {
    return AddRecord(kEppRecord, address, data);
}

ImageWriter& ImageWriter::AddRecord(std::uint16_t type, std::uint32_t address,
                                    std::span<const std::uint8_t> data) {
    AppendRecord(bytes_, type, address, data);
    return *this;
}

std::vector<std::uint8_t> WithBlockCheck(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> out(data.begin(), data.end());
    PutCheck(out, 0);
    return out;
}

}  // namespace vindelor::firmware
