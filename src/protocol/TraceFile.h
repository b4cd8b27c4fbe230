#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/TraceFramer.h"

namespace vindelor::protocol {

// The lines of a traffic trace file. One frame a line:
//
//     0.000441 TX 50 50 50 FF 00 20 DF AA AA | read request reg 0x20 dest 255
//
// the time in seconds since the trace began (six decimals), TX or RX, the bytes as two-digit
// upper-case hex separated by single spaces, " | ", and the decoding. Lines starting with '#'
// are comments: the header and what happened to the line ("# 1.250000 hang-up").

std::string FormatTime(std::int64_t micros);  // "12.000441", in any locale
std::string FormatTraceLine(const TraceFrame& frame);
// A frame line read back; nothing, with the reason in error, when the line is not one.
std::optional<TraceFrame> ParseTraceLine(std::string_view line, std::string& error);

// Prints a trace for a person: comments as they are, each frame as its time, the time since
// the line before, the direction and the decoding (made again from the bytes), then its bytes,
// sixteen to a line. Stops at the first line that is neither, with its number in error.
bool PrintTrace(std::istream& in, std::ostream& out, std::string& error);

}  // namespace vindelor::protocol
