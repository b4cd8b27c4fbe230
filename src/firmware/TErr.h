#pragma once

#include <exception>

namespace vindelor::firmware {

// The error value of the firmware image reader and the firmware loader. A plain copyable value
// with the same layout as the serial layer's TSerErr, so one handler can show either.
class TErr : public std::exception {
  public:
    TErr(int code, const char* text, const char* detail = nullptr);

    const char* what() const noexcept override { return Text; }

    // Always 0 in the firmware layer.
    int Code;
    // The message, at most 199 characters; longer texts are cut, never overrun.
    char Text[200];
    // Optional extra line for the user; empty when there is nothing to add.
    char Detail[200];
};

}  // namespace vindelor::firmware
