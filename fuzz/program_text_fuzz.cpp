// The program text on arbitrary input: a text that reads is assembled (encoder, jump
// shortening, log) and the image it gives is cut into commands and listed again.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "program/Listing.h"
#include "program/ProgramText.h"
#include "program/VarpError.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vindelor::program;
    static const std::string log = "/tmp/vindelor-fuzz-" + std::to_string(::getpid()) + ".log";
    ProgramText text;
    try {
        text = ParseProgramText(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const ProgramTextError& e) {
        if (e.Line < 1) std::abort();
        return 0;
    }
    std::vector<std::uint8_t> image;
    try {
        image = AssembleProgram(text, log);
    } catch (const VarpError&) {
        return 0;  // a label out of range, a jump to nowhere, a program too large: reported
    }
    const ImageCommands split = SplitImage(image);
    if (split.truncated) std::abort();  // the encoder's own image cuts cleanly
    std::size_t bytes = 0;
    for (const auto& c : split.commands) {
        (void)ListCommand(c);
        if (c.Bytes.size() != c.Length) std::abort();
        bytes += c.Length;
    }
    if (bytes != image.size()) std::abort();
    return 0;
}
