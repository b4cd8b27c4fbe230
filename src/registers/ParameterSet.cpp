#include "registers/ParameterSet.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <map>
#include <optional>

#include "registers/Definitions.h"
#include "registers/ValueType.h"
#include "util/SafeFile.h"
#include "util/Text.h"

namespace vindelor::registers {

namespace {

using util::Format;
using util::Trimmed;

constexpr const char* kMagic = "vindelor-parameters";
constexpr const char* kEnd = "end";
constexpr int kNameColumn = 18;  // the number is right-aligned after the quoted name
constexpr int kTypeColumn = 8;
constexpr int kRawColumn = 11;
constexpr int kLastRegister = 255;

std::string RawText(int words, std::uint32_t raw) {
    return words >= 2 ? Format("0x%08X", raw) : Format("0x%04X", raw & 0xFFFFu);
}

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

// The text in double quotes. (Built by appending: GCC 12 at -O3 reports a false -Wrestrict for
// a literal added to a temporary string.)
std::string Quoted(std::string_view text) {
    std::string q;
    q.reserve(text.size() + 2);
    q += '"';
    q += text;
    q += '"';
    return q;
}

// Splits off the first run of non-blank characters.
std::string_view Token(std::string_view& rest) {
    rest = Trimmed(rest);
    const auto end = rest.find_first_of(" \t");
    const std::string_view token = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    return token;
}

std::optional<long long> Decimal(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    long long v = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// "0x" and 4 or 8 hexadecimal digits: the raw words and how many there are.
std::optional<std::uint32_t> HexWords(std::string_view text, int& words) {
    if ((text.size() != 6 && text.size() != 10) || text[0] != '0' ||
        (text[1] != 'x' && text[1] != 'X'))
        return std::nullopt;
    words = text.size() == 10 ? 2 : 1;
    std::uint32_t v = 0;
    for (char c : text.substr(2)) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        const int digit =
            std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        v = (v << 4) | static_cast<std::uint32_t>(digit);
    }
    return v;
}

// One register line; the message of what is wrong, or nothing when it reads.
std::optional<std::string> ParseEntry(std::string_view line, ParameterEntry& e) {
    const auto close = line.find('"', 1);
    if (close == std::string_view::npos) return "the register name has no closing quote";
    e.name = std::string(line.substr(1, close - 1));
    if (e.name.empty()) return "the register name is empty";
    std::string_view rest = line.substr(close + 1);
    if (!rest.empty() && rest[0] != ' ' && rest[0] != '\t')
        return "a blank must follow the quoted name";

    const std::string_view numberText = Token(rest);
    const auto number = Decimal(numberText);
    if (!number || *number > kLastRegister)
        return Quoted(numberText) + " is no register number from 0 to 255";
    e.number = static_cast<int>(*number);

    const std::string_view keyword = Token(rest);
    const auto type = TypeFromKeyword(std::string(keyword));
    if (!type || *type == Dummy) return Quoted(keyword) + " is no value type";
    e.type = *type;

    const std::string_view rawText = Token(rest);
    const auto raw = HexWords(rawText, e.words);
    if (!raw || e.words < TypeWords(e.type))
        return Quoted(rawText) + " is not " + (TypeWords(e.type) == 2 ? "8" : "4 or 8") +
               " hexadecimal digits after 0x, the raw words of a " + TypeKeyword(e.type) +
               " register";
    e.raw = *raw;

    const std::string value(Trimmed(rest));
    if (value.empty()) return "the value is missing after the raw words";
    if (value != e.valueText())
        return "the value " + value + " does not match the raw words " + std::string(rawText) +
               ", which read " + e.valueText();
    return std::nullopt;
}

}  // namespace

std::string ParameterEntry::valueText() const {
    return std::string(Trimmed(registers::valueText(type, raw)));
}

const ParameterEntry* ParameterSet::find(int number) const {
    for (const auto& e : entries)
        if (e.number == number) return &e;
    return nullptr;
}

std::string FormatParameterSet(const ParameterSet& set) {
    std::string out;
    out += "# Vindelor parameter set. After the header, one line per register: its name, number,\n";
    out += "# value type, raw words (hexadecimal) and value as the register list shows it.\n";
    out += Format("%s %d\n", kMagic, ParameterSet::kFormatVersion);
    out += "program  " + set.program + "\n";
    out += "type     " + set.deviceType + "\n";
    out += Format("address  %d\n", set.address);
    if (!set.firmware.empty()) out += "firmware " + set.firmware + "\n";
    if (!set.serial.empty()) out += "serial   " + set.serial + "\n";
    out += "date     " + set.date + "\n";
    for (const auto& e : set.entries) {
        out += Padded("\"" + e.name + "\"", kNameColumn) + Format("%3d  ", e.number);
        out += Padded(TypeKeyword(e.type), kTypeColumn) + " " +
               Padded(RawText(e.words, e.raw), kRawColumn) + " ";
        out += e.valueText() + "\n";
    }
    out += Format("%s %zu\n", kEnd, set.entries.size());
    return out;
}

std::variant<ParameterSet, ParameterFileError> ParseParameterSet(std::string_view text) {
    ParameterSet set;
    const auto lines = SplitLines(std::string(text));
    auto fail = [](std::size_t line, std::string message) {
        return ParameterFileError{static_cast<int>(line), std::move(message)};
    };

    bool started = false;
    bool ended = false;
    std::map<std::string, int> headerSeen;
    std::map<int, int> numberSeen;
    std::size_t lastLine = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t n = i + 1;
        const std::string_view line = Trimmed(lines[i]);
        if (line.empty() || line[0] == '#') continue;
        lastLine = n;
        if (ended) return fail(n, "nothing may follow the \"end\" line");
        if (!started) {
            std::string_view rest = line;
            const std::string_view magic = Token(rest);
            if (magic != kMagic)
                return fail(n, "this is no Vindelor parameter set (it must begin with \"" +
                                   std::string(kMagic) + " 1\")");
            if (Trimmed(rest) != std::to_string(ParameterSet::kFormatVersion))
                return fail(n, "parameter set format " + std::string(Trimmed(rest)) +
                                   " is not known to this program");
            started = true;
            continue;
        }
        if (line[0] == '"') {
            ParameterEntry e;
            e.line = static_cast<int>(n);
            if (auto why = ParseEntry(line, e)) return fail(n, *why);
            if (const auto first = numberSeen.find(e.number); first != numberSeen.end())
                return fail(n, "register " + std::to_string(e.number) +
                                   " is given twice (first on line " +
                                   std::to_string(first->second) + ")");
            numberSeen[e.number] = e.line;
            set.entries.push_back(std::move(e));
            continue;
        }
        std::string_view rest = line;
        const std::string key(Token(rest));
        const std::string value(Trimmed(rest));
        if (key == kEnd) {
            const auto count = Decimal(value);
            if (!count || static_cast<std::size_t>(*count) != set.entries.size())
                return fail(n, "the \"end\" line counts " + value + " registers, but " +
                                   std::to_string(set.entries.size()) + " stand before it");
            ended = true;
            continue;
        }
        static const char* const kKeys[] = {"program",  "type",   "address",
                                            "firmware", "serial", "date"};
        if (std::find(std::begin(kKeys), std::end(kKeys), key) == std::end(kKeys))
            return fail(n, "\"" + key + "\" is neither a header line nor a register line");
        if (!set.entries.empty())
            return fail(n, "the header line \"" + key + "\" stands among the registers");
        if (const auto first = headerSeen.find(key); first != headerSeen.end())
            return fail(n, "\"" + key + "\" is given twice (first on line " +
                               std::to_string(first->second) + ")");
        headerSeen[key] = static_cast<int>(n);
        if (key == "program") set.program = value;
        if (key == "firmware") set.firmware = value;
        if (key == "serial") set.serial = value;
        if (key == "date") set.date = value;
        if (key == "type") {
            if (!DeviceTypeFromName(value)) return fail(n, "\"" + value + "\" is no device type");
            set.deviceType = value;
        }
        if (key == "address") {
            const auto a = Decimal(value);
            if (!a || *a > kLastRegister)
                return fail(n, "\"" + value + "\" is no address from 0 to 255");
            set.address = static_cast<int>(*a);
        }
    }
    const std::size_t last = std::max<std::size_t>(lastLine, lines.size());
    if (!started) return fail(last, "this is no Vindelor parameter set: it is empty");
    if (set.deviceType.empty()) return fail(last, "the header names no device type (\"type\")");
    if (!ended) return fail(last, "the file ends without its \"end\" line: it was cut short");
    return set;
}

bool ReadParameterFile(const std::string& path, ParameterSet& set, std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!util::ReadWholeFile(path, bytes, error)) return false;
    auto parsed = ParseParameterSet(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (auto* e = std::get_if<ParameterFileError>(&parsed)) {
        error = path + ":" + std::to_string(e->line) + ": " + e->message;
        return false;
    }
    set = std::move(std::get<ParameterSet>(parsed));
    return true;
}

std::string WriteParameterFile(const std::string& path, const ParameterSet& set) {
    return util::WriteFileSafely(path, FormatParameterSet(set));
}

std::string ParameterDateNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace vindelor::registers
