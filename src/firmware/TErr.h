#pragma once

#include "util/CodedError.h"

namespace vindelor::firmware {

// The error value of the firmware image reader and the firmware loader (code 0 in this layer),
// the same shape as the serial layer's TSerErr, so one handler can show either.
class TErr : public util::CodedError {
public:
    using CodedError::CodedError;
};

}  // namespace vindelor::firmware
