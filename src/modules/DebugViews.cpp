#include "modules/DebugViews.h"

#include <vector>

#include "modules/IntegerText.h"
#include "util/Text.h"

namespace vindelor::modules {

namespace {

using util::Format;

constexpr const char* kModeNames[] = {"Init Mode", "Velocity Mode", "Position Mode", "Command Mode"};
constexpr const char* kTargetNames[] = {"Position", "Position",     "Velocity", "Velocity",
                                        "Acelleration", "Torque", "Load",     "Zero"};
constexpr int kCommandMode = 3;

std::uint8_t At(std::span<const std::uint8_t> data, std::size_t i) { return i < data.size() ? data[i] : 0; }

std::string Bit(std::uint8_t b, int bit) { return (b >> bit) & 1 ? "1" : "0"; }

// The low `count` bits, the highest first.
std::string Digits(std::uint8_t b, int count) {
    std::string s;
    for (int bit = count - 1; bit >= 0; --bit) s += Bit(b, bit);
    return s;
}

}  // namespace

void SendDebugRequest(protocol::Sender& sender, std::uint8_t command, std::span<const std::uint8_t> data) {
    sender.SendHeader(command);
    for (std::uint8_t b : data) sender.SendPair(b);
    sender.SendTrailer();
}

std::string DebugStatusText(std::span<const std::uint8_t> block) {
    const std::uint8_t state = At(block, 0);
    const std::uint8_t flags = At(block, 1);
    const std::uint8_t outputs = At(block, 2);
    const unsigned timer = At(block, 3) | At(block, 4) << 8;
    const unsigned counter = At(block, 5) | At(block, 6) << 8;
    const std::uint8_t target = At(block, 7);
    const int mode = (target >> 5) & 3;

    std::string s;
    s += "Current State\t: " + std::to_string(state & 0x3F) + "\r\r";
    s += "Timer Status\t: " + Bit(state, 7) + "\r";
    s += "Counter Status\t: " + Bit(state, 6) + "\r";
    s += "Error Flag\t: " + Bit(flags, 7) + "\r";
    s += "In Position\t: " + Bit(flags, 6) + "\r\r";
    s += "Inputs\t\t: " + Digits(flags, 6) + "\r";
    s += "Outputs\t\t: " + Digits(outputs, 6) + "\r\r";
    s += "Timer\t\t: " + std::to_string(timer) + "\r";
    s += "Counter\t\t: " + std::to_string(counter) + "\r";
    s += std::string("Mode Command: ") + kModeNames[mode] + ", ";
    if (mode == kCommandMode) {
        s += "Command : " + std::to_string(target & 0x1F);
    } else {
        const int number = (target & 0x10) ? (target & 0x03) + 1 : (target & 0x07) + 1;
        s += std::string(kTargetNames[(target >> 2) & 7]) + " " + std::to_string(number);
    }
    return s;
}

std::string ProfiDataText(std::span<const std::uint8_t> data) {
    std::string s;
    for (std::size_t i = 0; i < kProfiDataShown; ++i) {
        const std::uint8_t b = At(data, i);
        s += Format("Data %i: 0x%02X \t(%s)\r", static_cast<int>(i), b, Digits(b, 8).c_str());
    }
    return s;
}

std::string DebugAreaText(std::span<const std::uint8_t> data) {
    std::string s;
    for (std::size_t row = 0; row < kDebugAreaBytes / kDebugAreaRow; ++row) {
        s += Format("%02x: \r", static_cast<unsigned>(row * kDebugAreaRow));
        for (std::size_t k = 0; k < kDebugAreaRow; ++k) {
            s += Format("%02X ", At(data, row * kDebugAreaRow + k));
            if (k == 8) s += " ";
        }
        s += "\r";
    }
    return s;
}

std::array<std::uint8_t, kProfiWriteBytes> ParseProfiData(const std::string& text) {
    std::vector<std::string> pieces;
    std::string piece;
    for (char c : text) {
        if (c == ',' || c == ';' || c == ' ') {
            pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty()) pieces.push_back(piece);

    std::array<std::uint8_t, kProfiWriteBytes> data {};
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const std::int32_t v = ReadInteger(pieces[i]);
        if (i < data.size()) data[i] = static_cast<std::uint8_t>(v & 0xFF);
    }
    // Only nine bytes go out: extra values would be lost without a word.
    if (pieces.size() > data.size())
        throw ConversionError("At most 9 values can be written; the text holds " + std::to_string(pieces.size()));
    return data;
}

}  // namespace vindelor::modules
