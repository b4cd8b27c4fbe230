#include "registers/Definitions.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "registers/ValueType.h"
#include "util/SafeFile.h"
#include "util/Text.h"

namespace vindelor::registers {

namespace {

using util::TrimRight;

constexpr DeviceFiles kFiles[] = {
    {"VX20-95", "tambrel.dat", "bitdefs.dat", "tambrel_alt.dat", 1},
    {"VX300/700", "bigtambrel.dat", "bigdefs.dat", "bigtambrel_alt.dat", 2},
    {"KT42", "kt42.dat", "kt42bits.dat", "kt42_alt.dat", 1},
    {"KT56", "kt56.dat", "kt56bits.dat", "kt56_alt.dat", 2},
};

std::string ParamError(std::size_t line) {
    return "Error loading parameter file (LINE " + std::to_string(line) + ")";
}
std::string BitdefError(std::size_t line) {
    return "Error loading bitdef file (LINE " + std::to_string(line) + ")";
}

// Columns are counted from 1; a short line gives a short (or empty) field.
std::string Columns(const std::string& line, std::size_t first, std::size_t count) {
    if (line.size() < first) return {};
    return line.substr(first - 1, count);
}

// Leading blanks, then digits up to the first other character; no digits give 0.
int LeadingNumber(const std::string& field) {
    std::size_t i = 0;
    while (i < field.size() && std::isspace(static_cast<unsigned char>(field[i]))) ++i;
    long v = 0;
    for (; i < field.size() && std::isdigit(static_cast<unsigned char>(field[i])); ++i)
        if (v < 1'000'000) v = v * 10 + (field[i] - '0');
    return static_cast<int>(v);
}

// Leading blanks, an optional sign, digits and nothing after them.
std::optional<int> StrictNumber(const std::string& field) {
    std::size_t i = 0;
    while (i < field.size() && field[i] == ' ') ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    if (i == field.size()) return std::nullopt;
    int v = 0;
    for (; i < field.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(field[i]))) return std::nullopt;
        v = v * 10 + (field[i] - '0');
    }
    return negative ? -v : v;
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool Fits32(long long v) {
    return v >= INT32_MIN && v <= INT32_MAX;
}

bool SkippedAltLine(const std::string& line) {
    if (line.empty() || line[0] == '#') return true;
    return line.find_first_not_of(" \t") == std::string::npos;
}

void MarkBitFields(Definitions& defs, int registerNumber, int searchCount) {
    for (int i = 0; i < searchCount; ++i) {
        if (defs.registerTable[static_cast<std::size_t>(i)].number == registerNumber) {
            defs.registerTable[static_cast<std::size_t>(i)].hasBitFields = true;
            return;
        }
    }
}

std::optional<std::string> ReadText(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    std::string reason;
    if (!util::ReadWholeFile(path, bytes, reason)) return std::nullopt;
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

const DeviceFiles& FilesOf(int deviceType) {
    return kFiles[(deviceType >= 1 && deviceType <= 4) ? deviceType - 1 : 0];
}

std::optional<int> DeviceTypeFromName(const std::string& name) {
    for (int t = 1; t <= 4; ++t)
        if (EqualsIgnoringCase(name, kFiles[t - 1].name)) return t;
    return std::nullopt;
}

int Definitions::findRegisterIndex(int number) const {
    for (int i = 0; i < registerCount; ++i)
        if (registerTable[static_cast<std::size_t>(i)].number == number) return i;
    return -1;
}

int Definitions::findRegisterByName(const std::string& name) const {
    for (int i = 0; i < registerCount; ++i) {
        const std::string& n = registerTable[static_cast<std::size_t>(i)].name;
        const auto begin = n.find_first_not_of(' ');
        if (begin != std::string::npos && TrimRight(std::string_view(n).substr(begin)) == name) return registerTable[static_cast<std::size_t>(i)].number;
    }
    return -1;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(current);
            current.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            current += c;
        }
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

std::vector<std::string> splitValueNames(const std::string& text) {
    std::vector<std::string> names;
    std::string current;
    for (char c : text) {
        if (c == ' ') {
            names.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    names.push_back(current);
    return names;
}

LoadResult LoadStandard(Definitions& defs, int wordsPerRegister, const std::optional<std::string>& registerText,
                        const std::optional<std::string>& bitFieldText) {
    LoadResult result;
    defs.bitFieldCount = 0;
    defs.wordsPerRegister = wordsPerRegister;

    if (!registerText) {
        result.errors.push_back(ParamError(0));
    } else {
        const auto lines = SplitLines(*registerText);
        int counter = 1;
        std::size_t failed = 0;
        for (std::size_t i = 0; i < lines.size() && !failed; ++i) {
            const std::string& line = lines[i];
            const auto type = StrictNumber(Columns(line, 19, 3));
            // The table has 256 entries and the device 256 register numbers.
            if (i >= kRegisterTableSize || !type || *type < 0 || *type >= kValueTypeCount ||
                (*type != 0 && counter > 255)) {
                failed = i + 1;
                break;
            }
            RegisterDef& def = defs.registerTable[i];
            def.name = Columns(line, 1, 15);
            def.words = LeadingNumber(Columns(line, 16, 3));
            def.type = *type;
            def.number = *type != 0 ? counter : -1;
            def.hasBitFields = false;
            if (TrimRight(def.name) == "SAMPLE1") defs.sampleBase = counter;
            counter += def.words / wordsPerRegister;
        }
        if (failed) {
            result.errors.push_back(ParamError(failed));
        } else {
            defs.registerCount = static_cast<int>(lines.size());
            result.registersLoaded = true;
        }
    }

    if (!bitFieldText) {
        result.errors.push_back(BitdefError(0));
        return result;
    }
    const auto lines = SplitLines(*bitFieldText);
    if (lines.size() > kBitFieldTableSize) {
        result.errors.push_back(BitdefError(kBitFieldTableSize + 1));
        return result;
    }
    for (const std::string& line : lines) {
        BitFieldDef& bf = defs.bitFieldTable[static_cast<std::size_t>(defs.bitFieldCount)];
        bf.name = Columns(line, 1, 12);
        bf.registerNumber = LeadingNumber(Columns(line, 13, 3));
        bf.firstBit = LeadingNumber(Columns(line, 16, 3));
        bf.width = LeadingNumber(Columns(line, 19, 3));
        bf.valueNames = splitValueNames(line.size() > 22 ? line.substr(22) : std::string());
        ++defs.bitFieldCount;
        MarkBitFields(defs, bf.registerNumber, defs.registerCount);
    }
    result.bitFieldsLoaded = true;
    return result;
}

LoadResult LoadAlternative(Definitions& defs, int wordsPerRegister, const std::optional<std::string>& text) {
    LoadResult result;
    defs.bitFieldCount = 0;
    defs.wordsPerRegister = wordsPerRegister;
    if (!text) {
        result.errors.push_back(ParamError(0));
        return result;
    }
    const auto lines = SplitLines(*text);
    for (auto& def : defs.registerTable) {
        def.number = -1;
        def.hasBitFields = false;
    }

    static const std::string kBitFieldPattern = [] {
        std::string p = "%lld : %lld : %lld , \"%15[^\"]\"";
        for (int k = 0; k < 16; ++k) p += " , %lld =\"%15[^\"]\"";
        return p;
    }();

    int registerLines = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (SkippedAltLine(line)) continue;
        const std::string error = ParamError(i + 1);

        // Numbers are scanned 64 bits wide so that one past 32 bits is an error, not a number
        // that wrapped round (4294967298 is not register 2).
        long long number = 0;
        char name[16] = {};
        char keyword[11] = {};
        if (std::sscanf(line.c_str(), "%lld , \"%15[^\"]\" , %10s", &number, name, keyword) == 3) {
            const auto type = TypeFromKeyword(keyword);
            if (number < 0 || number > 255 || name[0] == '\0' || !type || registerLines >= kRegisterTableSize) {
                result.errors.push_back(error);
                return result;
            }
            RegisterDef& def = defs.registerTable[static_cast<std::size_t>(registerLines++)];
            def.name = name;
            def.number = static_cast<int>(number);
            def.type = *type;
            def.words = TypeWords(*type);
            def.hasBitFields = false;
            if (EqualsIgnoringCase(def.name, "SAMPLE1")) defs.sampleBase = def.number;
            continue;
        }

        long long head[3] = {};
        char fieldName[16] = {};
        long long values[16] = {};
        char names[16][16] = {};
        const int fields = std::sscanf(
            line.c_str(), kBitFieldPattern.c_str(), &head[0], &head[1], &head[2], fieldName,
            &values[0], names[0], &values[1], names[1], &values[2], names[2], &values[3], names[3],
            &values[4], names[4], &values[5], names[5], &values[6], names[6], &values[7], names[7],
            &values[8], names[8], &values[9], names[9], &values[10], names[10], &values[11], names[11],
            &values[12], names[12], &values[13], names[13], &values[14], names[14], &values[15], names[15]);
        // A negative width has no meaning (and no mask).
        if (fields < 6 || head[0] < 0 || head[0] > 255 || !Fits32(head[1]) || head[2] < 0 ||
            !Fits32(head[2]) || fieldName[0] == '\0' || defs.bitFieldCount >= kBitFieldTableSize) {
            result.errors.push_back(error);
            return result;
        }
        const int pairs = (fields - 4) / 2;
        for (int k = 0; k < pairs; ++k) {
            if (values[k] > kMaxBitFieldValue || !Fits32(values[k])) {
                result.errors.push_back(error);
                return result;
            }
        }
        BitFieldDef& bf = defs.bitFieldTable[static_cast<std::size_t>(defs.bitFieldCount)];
        bf.name = fieldName;
        bf.registerNumber = static_cast<int>(head[0]);
        bf.firstBit = static_cast<int>(head[1]);
        bf.width = static_cast<int>(head[2]);
        bf.valueNames.clear();
        for (int k = 0; k < pairs; ++k) {
            while (static_cast<int>(bf.valueNames.size()) < values[k]) bf.valueNames.emplace_back("---");
            bf.valueNames.emplace_back(names[k]);
        }
        ++defs.bitFieldCount;
        MarkBitFields(defs, bf.registerNumber, registerLines);
    }
    defs.registerCount = registerLines;
    result.registersLoaded = true;
    result.bitFieldsLoaded = true;
    return result;
}

LoadResult LoadDefinitions(Definitions& defs, int deviceType, bool alt, const std::string& folder) {
    const DeviceFiles& files = FilesOf(deviceType);
    const std::string base = folder.empty() ? std::string() : folder + "/";
    if (alt) return LoadAlternative(defs, files.wordsPerRegister, ReadText(base + files.altFile));
    return LoadStandard(defs, files.wordsPerRegister, ReadText(base + files.registerFile),
                        ReadText(base + files.bitFieldFile));
}

}  // namespace vindelor::registers
