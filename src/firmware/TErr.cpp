#include "firmware/TErr.h"

#include <cstdio>

namespace vindelor::firmware {

TErr::TErr(int code, const char* text, const char* detail) : Code(code) {
    std::snprintf(Text, sizeof Text, "%s", text ? text : "");
    std::snprintf(Detail, sizeof Detail, "%s", detail ? detail : "");
}

}  // namespace vindelor::firmware
