// ReadImageData on arbitrary bytes; a file that reads cleanly must come back the same when its
// records are written again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "firmware/FirmwareImage.h"
#include "firmware/ImageWriter.h"
#include "firmware/TErr.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vindelor::firmware;
    FirmwareImage image;
    bool clean = true;
    try {
        image.ReadImageData(std::span<const std::uint8_t>(data, size));
    } catch (const TErr& e) {
        clean = false;
        if (e.Code != 0) std::abort();
    }
    std::int32_t flash = 0;
    std::int32_t epp = 0;
    for (const auto& r : image.Records) {
        if (r.Data().size() != r.Length()) std::abort();
        flash += r.Type() == kFlashRecord;
        epp += r.Type() == kEppRecord;
    }
    if (flash != image.FlashRecordCount || epp != image.EppRecordCount) std::abort();
    const std::size_t used = image.RecordOffset(image.Records.size());
    if (clean ? used != size : used >= size) std::abort();
    if (!clean) return 0;

    // Written again (reserved bytes become 0), the records read back the same.
    ImageWriter w;
    for (const auto& r : image.Records) w.AddRecord(r.Type(), r.Address(), r.Data());
    FirmwareImage again;
    again.ReadImageData(w.Bytes());
    if (again.Records.size() != image.Records.size() || again.Description != image.Description ||
        again.HardwareCode != image.HardwareCode || again.HeaderWord != image.HeaderWord ||
        again.LoaderMode != image.LoaderMode)
        std::abort();
    for (std::size_t k = 0; k < image.Records.size(); ++k) {
        const auto& a = image.Records[k].Block();
        const auto& b = again.Records[k].Block();
        if (!std::equal(a.begin() + 2, a.end(), b.begin() + 2, b.end())) std::abort();
    }
    return 0;
}
