#include "firmware/RecordLimits.h"

#include "util/Text.h"

namespace vindelor::firmware {

std::string RecordFrameProblem(std::uint16_t type, std::uint64_t address, std::uint64_t length,
                               int loaderMode) {
    const bool flash = type == kFlashRecord;
    if (!flash && !(type == kEppRecord && loaderMode == 1)) return {};
    // Variant A (modes 0 and 3) announces the length without the check the block ends with.
    const bool checkLeftOut = flash && (loaderMode == 0 || loaderMode == 3);
    const bool shortAddress = !flash || loaderMode == 1;
    const std::uint64_t lengthMax = kAnnounceLengthMax + (checkLeftOut ? kBlockCheckBytes : 0);
    const std::uint64_t addressMax = shortAddress ? kShortAddressMax : kAnnounceAddressMax;
    if (checkLeftOut && length < kBlockCheckBytes)
        return util::Format(
            "shorter than the %d bytes of its own check, which the announce of "
            "loader mode %d leaves out",
            static_cast<int>(kBlockCheckBytes), loaderMode);
    if (length > lengthMax)
        return util::Format(
            "longer than the %llu bytes the 16-bit length of its announce can "
            "carry in loader mode %d",
            static_cast<unsigned long long>(lengthMax), loaderMode);
    if (address > addressMax)
        return util::Format(
            "address beyond 0x%llX, the highest the %d-bit address of its "
            "announce can carry in loader mode %d",
            static_cast<unsigned long long>(addressMax), shortAddress ? 16 : 24, loaderMode);
    return {};
}

std::string ImageFrameProblem(const FirmwareImage& image) {
    std::size_t offset = 0;
    for (const auto& r : image.Records) {
        const std::string problem =
            RecordFrameProblem(r.Type(), r.Address(), r.Length(), image.LoaderMode);
        if (!problem.empty())
            return util::Format("Record at offset 0x%08zX (%s, address 0x%08X, %u bytes): %s",
                                offset, r.Type() == kFlashRecord ? "flash" : "EPP",
                                static_cast<unsigned>(r.Address()),
                                static_cast<unsigned>(r.Length()), problem.c_str());
        offset += r.Block().size() + kRecordCheckSize;
    }
    return {};
}

}  // namespace vindelor::firmware
