#include "sim/FrameReader.h"

namespace vindelor::sim {

std::optional<Frame> FrameReader::push(std::uint8_t b, Clock::time_point at) {
    if (!buffer_.empty() && at - last_ > std::chrono::milliseconds(kGapMs)) buffer_.clear();
    last_ = at;
    buffer_.push_back(b);
    for (;;) {
        // 0 = need more bytes, 1 = frame complete, -1 = broken: drop the first byte and rescan.
        int state = 0;
        Frame frame;
        const auto& v = buffer_;
        if (v.size() >= 2 && v[1] != v[0]) state = -1;
        else if (v.size() >= 3 && v[2] != v[0]) state = -1;
        else if (v.size() >= 5 && v[4] != static_cast<std::uint8_t>(~v[3])) state = -1;
        else if (v.size() >= 7) {
            std::size_t i = 5;
            for (; i + 1 < v.size(); i += 2) {
                if (v[i] == 0xAA && v[i + 1] == 0xAA) {
                    state = 1;
                    break;
                }
                if (v[i + 1] != static_cast<std::uint8_t>(~v[i])) {
                    state = -1;
                    break;
                }
                frame.body.push_back(v[i]);
            }
            if (state == 0 && frame.body.size() > kMaxBody) state = -1;
            if (state == 1 && i + 2 != v.size()) state = -1;  // cannot happen: parsed per byte
        }
        if (state == 0) return std::nullopt;
        if (state == 1) {
            frame.letter = v[0];
            frame.destination = v[3];
            buffer_.clear();
            return frame;
        }
        buffer_.erase(buffer_.begin());
        if (buffer_.empty()) return std::nullopt;
    }
}

}  // namespace vindelor::sim
