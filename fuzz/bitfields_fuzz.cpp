// The standard bit-field file on arbitrary text, beside a register file that holds registers
// at every number; whatever loads is shown as the bit-field list shows it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "registers/Definitions.h"
#include "registers/RegisterList.h"
#include "support/ListHost.h"

namespace {

// 200 one-word registers: numbers 1 to 200 on a one-word device.
const std::string& Registers() {
    static const std::string text = [] {
        std::string t;
        for (int i = 0; i < 200; ++i) t += "REG            1  2\n";
        return t;
    }();
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vindelor::registers;
    const std::string text(reinterpret_cast<const char*>(data), size);
    vindelor::fuzz::ListHost host;
    RegisterList list(host);
    const LoadResult r = LoadStandard(list.defs, 1, Registers(), text);
    if (!r.registersLoaded) std::abort();
    if (list.defs.bitFieldCount < 0 || list.defs.bitFieldCount > kBitFieldTableSize) std::abort();
    vindelor::fuzz::ShowEverything(list, static_cast<std::uint32_t>(size) * 2654435761u);
    if (r.bitFieldsLoaded &&
        list.bitFieldLines.size() != static_cast<std::size_t>(list.defs.bitFieldCount))
        std::abort();
    return 0;
}
