// Firmware files from the command line: hex to binary, and firmware image files (".vxf").
#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "cli/Cli.h"
#include "cli/Session.h"
#include "firmware/FirmwareImage.h"
#include "firmware/HexFile.h"
#include "firmware/ImageWriter.h"
#include "firmware/RecordLimits.h"
#include "firmware/TErr.h"
#include "serial/TSerErr.h"
#include "util/Cp1252.h"
#include "util/Json.h"
#include "util/SafeFile.h"

namespace vindelor::cli {

namespace {

using namespace vindelor::firmware;

// A limit well above any device, so that a typing error does not allocate gigabytes.
constexpr long long kMaxCapacity = 0x10000000;

struct Hex2BinArgs {
    std::string input;
    std::string output;
    // The largest image any of the tool's loaders reads (the large motor's flash).
    std::string capacity = "0x80000";
    std::string fill = "0";
};

struct ImageMakeArgs {
    std::string output;
    std::string mode = "0";
    std::string hardware = "0";
    std::string headerWord = "0";
    std::string description;
    bool noHeader = false;
    std::vector<std::string> erase;
    std::vector<std::string> flash;
    std::vector<std::string> epp;
    std::string blockSize = "0";
    bool blockCheck = false;
};

long long NumberIn(const std::string& text, const char* what, long long low, long long high) {
    const long long v = ParseNumber(text, what);
    if (v < low || v > high)
        throw CommandError{kExitUsage, std::string("Out of range for ") + what + ": " + text +
                                           " (" + std::to_string(low) + " to " +
                                           std::to_string(high) + ")"};
    return v;
}

std::string Hex(std::uint64_t v, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*" PRIX64, digits, v);
    return text;
}

void Hex2BinCommand(CommandContext& ctx, const Hex2BinArgs& a) {
    const auto capacity =
        static_cast<std::size_t>(NumberIn(a.capacity, "--capacity", 0, kMaxCapacity));
    const auto fill = static_cast<std::uint8_t>(NumberIn(a.fill, "--fill", 0, 255));
    std::vector<std::uint8_t> image(capacity, fill);
    std::int32_t dataBytes = 0;
    std::int32_t size = 0;
    try {
        size = LoadHexFile(a.input, image, 0, {.mask = {}, .byteCount = &dataBytes});
    } catch (const serial::TSerErr& e) {
        std::string message = a.input + ": " + e.Text;
        if (std::string_view(e.Text).starts_with("Buffer overflow"))
            message += " (the image holds " + Hex(capacity, 1) + " bytes; --capacity allows more)";
        throw CommandError{kExitDevice, message};
    } catch (const HexFormatError& e) {
        const std::string where =
            e.Line > 0 ? std::to_string(e.Line) : "offset " + std::to_string(e.Offset);
        throw CommandError{kExitDevice, a.input + ":" + where + ": " + e.what()};
    } catch (const std::system_error& e) {
        throw CommandError{kExitDevice, e.what()};
    }
    const std::string_view bytes(reinterpret_cast<const char*>(image.data()),
                                 static_cast<std::size_t>(size));
    if (auto reason = util::WriteFileSafely(a.output, bytes); !reason.empty())
        throw CommandError{kExitDevice, reason};
    std::cout << a.output << ": " << size << " bytes, " << dataBytes << " data bytes from "
              << a.input << "\n";
    ctx.status = kExitOk;
}

const char* TypeName(std::uint16_t type) {
    switch (type) {
        case kHeaderRecord:
            return "header";
        case kFlashRecord:
            return "flash";
        case kEraseRecord:
            return "erase";
        case kEppRecord:
            return "EPP";
        default:
            return "other";
    }
}

// The description is Windows-1252 text: shown in UTF-8, with a control character, a backslash
// or a code that Windows-1252 leaves unused as \xNN or \\, so the line never carries control
// characters.
std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        const char32_t u = util::Cp1252ToUnicode(c);
        if (c == '\\') {
            out += "\\\\";
        } else if ((u >= 0x20 && u < 0x7F) || u >= 0xA0) {
            out += util::Utf8Of(u);
        } else {
            char item[8];
            std::snprintf(item, sizeof item, "\\x%02X", c);
            out += item;
        }
    }
    return out;
}

// What "image info" shows, as one JSON object: the header, each record with its offset, and
// the check (ok, or the failure and the offset where reading stopped).
void ImageInfoJson(const FirmwareImage& image, const std::string& file, bool header, const std::string& failure) {
    util::JsonObject out;
    out.text("file", file);
    if (header) {
        out.value("header", util::JsonObject()
                                .integer("loader_mode", image.LoaderMode)
                                .integer("hardware_code", image.HardwareCode)
                                .integer("header_word", image.HeaderWord)
                                .text1252("description", image.Description)
                                .str());
    } else {
        out.null("header");
    }
    std::vector<std::string> records;
    records.reserve(image.Records.size());
    std::size_t offset = 0;
    for (const auto& r : image.Records) {
        util::JsonObject o;
        o.integer("offset", static_cast<std::int64_t>(offset))
            .text("type", TypeName(r.Type()))
            .integer("type_code", r.Type())
            .integer("address", r.Address())
            .integer("length", r.Length());
        if (r.Type() == kEraseRecord) {
            if (r.Data().empty())
                o.null("block");
            else
                o.integer("block", r.Data()[0]);
        }
        records.push_back(o.str());
        offset += r.Block().size() + kRecordCheckSize;
    }
    out.integer("flash_records", image.FlashRecordCount)
        .integer("epp_records", image.EppRecordCount)
        .value("records", util::JsonArray(records))
        .boolean("ok", failure.empty());
    if (failure.empty())
        out.null("error").null("error_offset");
    else
        out.text("error", failure).integer("error_offset", static_cast<std::int64_t>(offset));
    std::cout << out.str() << std::endl;
}

void ImageInfoCommand(CommandContext& ctx, const std::string& file) {
    FirmwareImage image;
    std::string failure;
    try {
        image.ReadImage(file);
    } catch (const TErr& e) {
        failure = e.Text;
    }
    if (failure == "Error reading the file") throw CommandError{kExitDevice, file + ": " + failure};

    bool header = false;
    for (const auto& r : image.Records) header = header || r.Type() == kHeaderRecord;
    if (ctx.json) {
        ImageInfoJson(image, file, header, failure);
        if (!failure.empty()) throw CommandError{kExitDevice, file + ": " + failure};
        ctx.status = kExitOk;
        return;
    }
    std::cout << "file: " << file << "\n";
    if (header) {
        std::cout << "loader mode: " << image.LoaderMode << "\n"
                  << "hardware code: " << image.HardwareCode << "\n"
                  << "header word: " << Hex(image.HeaderWord, 4) << "\n"
                  << "description: " << Printable(image.Description) << "\n";
    } else {
        std::cout << "header: none (loader mode 0)\n";
    }
    std::cout << "records: " << image.Records.size() << " (flash " << image.FlashRecordCount
              << ", EPP " << image.EppRecordCount << ")\n";
    std::cout << "offset      type      address     length\n";
    // Offsets add up as the records go by (asking the image for each one would be quadratic).
    std::size_t offset = 0;
    for (std::size_t k = 0; k < image.Records.size(); ++k) {
        const auto& r = image.Records[k];
        char line[128];
        std::string address = Hex(r.Address(), 8);
        if (r.Type() == kEraseRecord)
            address = r.Data().empty() ? "block -" : "block " + std::to_string(r.Data()[0]);
        if (r.Type() == kHeaderRecord)
            address = "mode " + std::to_string(r.Address() & 0xFFFF) + " hw " +
                      std::to_string(r.Address() >> 16);
        std::snprintf(line, sizeof line, "%-11s %-6s%-3s %-11s %" PRIu32 "\n",
                      Hex(offset, 8).c_str(), TypeName(r.Type()),
                      r.Type() > kEppRecord || r.Type() == 0
                          ? ("(" + std::to_string(r.Type()) + ")").c_str()
                          : "",
                      address.c_str(), r.Length());
        std::cout << line;
        offset += r.Block().size() + kRecordCheckSize;
    }
    if (!failure.empty()) {
        std::cout << "check: " << failure << " at offset " << Hex(offset, 8) << "\n";
        std::cout.flush();
        throw CommandError{kExitDevice, file + ": " + failure};
    }
    std::cout << "check: OK\n";
    ctx.status = kExitOk;
}

// Descriptions are Windows-1252 text in the files. Typed UTF-8 is stored as its Windows-1252
// bytes (so "€" is the single byte 0x80, as "image info" shows it again); text that is not
// UTF-8 is taken byte for byte.
std::string DescriptionBytes(const std::string& typed) {
    constexpr char32_t kNone = 0xFFFFFFFF;
    char32_t unmapped = kNone;
    if (auto bytes = util::Utf8ToCp1252(typed, &unmapped)) return *bytes;
    if (unmapped == kNone) return typed;  // not UTF-8: raw bytes
    throw CommandError{kExitUsage,
                       "The description holds a character that Windows-1252 has no code for: " +
                           util::Utf8Of(unmapped)};
}

// "ADDRESS=FILE"
std::pair<std::uint32_t, std::vector<std::uint8_t>> AddressAndFile(const std::string& item,
                                                                   const char* what) {
    const auto eq = item.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == item.size())
        throw CommandError{kExitUsage, std::string(what) + " takes ADDRESS=FILE: " + item};
    const auto address =
        static_cast<std::uint32_t>(NumberIn(item.substr(0, eq), what, 0, 0xFFFFFFFF));
    const std::string file = item.substr(eq + 1);
    std::vector<std::uint8_t> bytes;
    if (const int error = util::ReadFileBytes(file, bytes); error != 0)
        throw CommandError{kExitDevice,
                           "Cannot read " + file + ": " + std::generic_category().message(error)};
    return {address, std::move(bytes)};
}

void ImageMakeCommand(CommandContext& ctx, const ImageMakeArgs& a) {
    const auto blockSize =
        static_cast<std::size_t>(NumberIn(a.blockSize, "--block-size", 0, 0xFFFFFF));
    ImageWriter writer;
    if (!a.noHeader) {
        ImageHeader h;
        h.LoaderMode = static_cast<std::uint16_t>(NumberIn(a.mode, "--mode", 0, 3));
        h.HardwareCode = static_cast<std::uint16_t>(NumberIn(a.hardware, "--hardware", 0, 0xFFFF));
        h.HeaderWord =
            static_cast<std::uint16_t>(NumberIn(a.headerWord, "--header-word", 0, 0xFFFF));
        h.Description = DescriptionBytes(a.description);
        if (h.Description.find('\0') != std::string::npos)
            throw CommandError{kExitUsage, "The description may not hold a zero byte"};
        writer.AddHeader(h);
    }
    for (const auto& e : a.erase)
        writer.AddErase(static_cast<std::uint8_t>(NumberIn(e, "--erase", 0, 255)));

    auto addBlocks = [&](const std::string& item, const char* what, bool flash) {
        auto [address, bytes] = AddressAndFile(item, what);
        const std::size_t step =
            blockSize == 0 ? std::max<std::size_t>(bytes.size(), 1) : blockSize;
        for (std::size_t at = 0; at < bytes.size() || (at == 0 && bytes.empty()); at += step) {
            const std::span<const std::uint8_t> piece =
                std::span<const std::uint8_t>(bytes).subspan(at, std::min(step, bytes.size() - at));
            const auto pieceAddress = static_cast<std::uint32_t>(address + at);
            if (flash) {
                if (a.blockCheck)
                    writer.AddFlash(pieceAddress, WithBlockCheck(piece));
                else
                    writer.AddFlash(pieceAddress, piece);
            } else {
                writer.AddEpp(pieceAddress, piece);
            }
            if (bytes.empty()) break;
        }
    };
    for (const auto& f : a.flash) addBlocks(f, "--flash", true);
    for (const auto& e : a.epp) addBlocks(e, "--epp", false);

    const auto& bytes = writer.Bytes();
    // An image whose records its loader mode cannot announce is never written: the loader
    // would refuse it, or another tool send it wrongly.
    FirmwareImage made;
    made.ReadImageData(bytes);
    if (const std::string problem = ImageFrameProblem(made); !problem.empty())
        throw CommandError{kExitUsage, a.output + " not written: " + problem};
    if (auto reason = util::WriteFileSafely(a.output, bytes); !reason.empty())
        throw CommandError{kExitDevice, reason};
    std::cout << a.output << ": " << bytes.size() << " bytes\n";
    ctx.status = kExitOk;
}

}  // namespace

void AddFirmwareCommands(CLI::App& app, CommandContext& ctx) {
    auto hexArgs = std::make_shared<Hex2BinArgs>();
    auto* hex2bin = app.add_subcommand(
        "hex2bin", "Convert an Intel HEX file to a binary image starting at address 0");
    hex2bin->add_option("input", hexArgs->input, "Intel HEX file (.hex, .h86)")->required();
    hex2bin
        ->add_option("output", hexArgs->output, "Binary file to write (highest address + 1 bytes)")
        ->required();
    hex2bin
        ->add_option("--capacity", hexArgs->capacity,
                     "Largest image size in bytes (decimal or 0x..)")
        ->capture_default_str();
    hex2bin->add_option("--fill", hexArgs->fill, "Byte for addresses the file does not define")
        ->capture_default_str();
    hex2bin->callback([&ctx, hexArgs] { Hex2BinCommand(ctx, *hexArgs); });

    auto* image = app.add_subcommand("image", "Firmware image files (.vxf)");
    image->require_subcommand(1);

    auto infoFile = std::make_shared<std::string>();
    auto* info =
        image->add_subcommand("info", "Show the header and records of an image file and check it");
    info->add_option("file", *infoFile, "Firmware image file")->required();
    AddJsonFlag(info, ctx);
    info->callback([&ctx, infoFile] { ImageInfoCommand(ctx, *infoFile); });

    auto makeArgs = std::make_shared<ImageMakeArgs>();
    auto* make = image->add_subcommand("make",
                                       "Build an image file: a header record, then erase, flash "
                                       "and EPP records in the order given");
    make->add_option("output", makeArgs->output, "Image file to write")->required();
    make->add_option("--mode", makeArgs->mode, "Loader mode 0..3")->capture_default_str();
    make->add_option("--hardware", makeArgs->hardware, "Hardware code")->capture_default_str();
    make->add_option("--header-word", makeArgs->headerWord, "Header word")->capture_default_str();
    make->add_option("--description", makeArgs->description, "Description text (bytes as given)");
    make->add_flag("--no-header", makeArgs->noHeader, "Write no header record");
    make->add_option("--erase", makeArgs->erase, "Flash block to erase (repeatable)");
    make->add_option("--flash", makeArgs->flash, "ADDRESS=FILE: raw bytes for flash (repeatable)");
    make->add_option("--epp", makeArgs->epp, "ADDRESS=FILE: raw bytes for EPP memory (repeatable)");
    make->add_option("--block-size", makeArgs->blockSize,
                     "Split each file into records of this many bytes (0: one record)")
        ->capture_default_str();
    make->add_flag("--block-check", makeArgs->blockCheck,
                   "Append each flash block's own CRC-16 (high byte first), as loader modes 0, 1 "
                   "and 3 expect");
    make->callback([&ctx, makeArgs] { ImageMakeCommand(ctx, *makeArgs); });

    struct UpdateArgs {
        std::string file;
        bool info = false;
        double timeout = 0;
    };
    auto updateArgs = std::make_shared<UpdateArgs>();
    auto* update = app.add_subcommand(
        "firmware", "Update a module's firmware from an image file (.vxf) through its bootloader");
    update->add_option("file", updateArgs->file, "Firmware image file")->required();
    update->add_flag("--info", updateArgs->info, "Only show the image, as 'image info' does");
    update->add_option("--timeout", updateArgs->timeout,
                       "Give up after this many seconds (the update ends as after Ctrl+C, status 1); "
                       "without it the update waits as long as the module needs to be turned off "
                       "and on")
        ->check(CLI::PositiveNumber);
    update->callback([&ctx, updateArgs] {
        if (updateArgs->info)
            ImageInfoCommand(ctx, updateArgs->file);
        else
            FirmwareUpdateCommand(ctx, updateArgs->file, updateArgs->timeout);
    });
}

}  // namespace vindelor::cli
