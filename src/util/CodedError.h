#pragma once

#include <exception>

namespace vindelor::util {

// The shape of the tool's error values: a class code, the short fixed message the user sees,
// and an optional detail line. A plain copyable value; the text is cut after 199
// characters, the detail after 399.
class CodedError : public std::exception {
public:
    CodedError(int code, const char* text, const char* detail = nullptr);

    const char* what() const noexcept override { return Text; }

    int Code;
    char Text[200];
    // Extra line for the user (the device concerned, what to do about it); empty if none. Room
    // for a long device path and the advice that follows it.
    char Detail[400];
};

}  // namespace vindelor::util
