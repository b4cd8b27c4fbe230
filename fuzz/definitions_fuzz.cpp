// Register definition files of both formats on arbitrary text: the first byte picks the format
// and the words per register number; whatever loads is shown as the register list shows it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "registers/Definitions.h"
#include "registers/RegisterList.h"
#include "registers/ValueType.h"
#include "support/ListHost.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vindelor::registers;
    if (size == 0) return 0;
    const bool alternative = data[0] & 1;
    const int words = (data[0] & 2) ? 2 : 1;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    vindelor::fuzz::ListHost host;
    RegisterList list(host);
    const LoadResult r = alternative ? LoadAlternative(list.defs, words, text)
                                     : LoadStandard(list.defs, words, text, std::string());
    const Definitions& d = list.defs;
    if (r.registersLoaded != r.errors.empty() && alternative) std::abort();
    if (d.registerCount < 0 || d.registerCount > kRegisterTableSize) std::abort();
    if (d.bitFieldCount < 0 || d.bitFieldCount > kBitFieldTableSize) std::abort();
    for (int i = 0; i < d.registerCount; ++i) {
        const RegisterDef& def = d.registerTable[static_cast<std::size_t>(i)];
        if (def.number < -1 || def.number > 255 || def.type < 0 || def.type >= kValueTypeCount)
            std::abort();
    }
    vindelor::fuzz::ShowEverything(list, size > 1 ? data[1] * 0x01010101u : 0);
    return 0;
}
