#pragma once

#include "util/CodedError.h"

namespace vindelor::serial {

// The error value of the serial layer, also thrown by the reply decoder and the firmware loader.
// Code 1: opening, configuring, or a protocol check failed. Code 3: a read or write on the open
// port failed or timed out. (The firmware loader also uses 0 for a file that cannot be read.)
class TSerErr : public util::CodedError {
public:
    enum : int { Open = 1, Io = 3 };
    using CodedError::CodedError;
};

}  // namespace vindelor::serial
