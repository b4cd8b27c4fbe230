#pragma once

#include <exception>

namespace vindelor::serial {

// The error value of the serial layer, also thrown by the reply decoder and the firmware loader.
// Code 1: opening, configuring, or a protocol check failed. Code 3: a read or write on the open
// port failed or timed out. (The firmware loader also uses 0 for a file that cannot be read.)
class TSerErr : public std::exception {
public:
    enum : int { Open = 1, Io = 3 };

    TSerErr(int code, const char* text, const char* detail = nullptr);

    const char* what() const noexcept override { return Text; }

    int Code;
    // The short fixed message, as shown to the user.
    char Text[200];
    // Optional extra line for the user: the device concerned and what to do about it (a port
    // that may not be opened for lack of permission, say). Empty when there is nothing to add.
    char Detail[200];
};

}  // namespace vindelor::serial
