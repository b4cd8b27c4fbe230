#include "util/CodedError.h"

#include <cstdio>

namespace vindelor::util {

CodedError::CodedError(int code, const char* text, const char* detail) : Code(code) {
    std::snprintf(Text, sizeof Text, "%s", text ? text : "");
    std::snprintf(Detail, sizeof Detail, "%s", detail ? detail : "");
}

}  // namespace vindelor::util
