#include "protocol/RegisterReply.h"

namespace vindelor::protocol {

std::optional<RegisterReply> ReadRegisterReplyBody(const std::function<int()>& readPair,
                                                   const std::function<void()>& readTrailer) {
    RegisterReply r;
    r.registerNumber = readPair();
    int n = readPair();
    if (r.registerNumber == 0) return std::nullopt;
    if (n > kMaxRegisterValueBytes) n = kMaxRegisterValueBytes;
    for (int i = 0; i < n; ++i) r.value += static_cast<std::uint32_t>(readPair()) << (8 * (i % 4));
    readTrailer();
    r.length = n;
    return r;
}

}  // namespace vindelor::protocol
