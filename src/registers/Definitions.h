#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vindelor::registers {

// Device types, as the "Type" box numbers them.
enum DeviceType : int { VX20_95 = 1, VX300_700 = 2, KT42 = 3, KT56 = 4 };

struct DeviceFiles {
    const char* name;          // as the "Type" box shows it
    const char* registerFile;  // standard format
    const char* bitFieldFile;
    const char* altFile;       // alternative format, registers and bit fields
    int wordsPerRegister;
};
// The files of a device type; VX20-95's for a number outside 1 to 4.
const DeviceFiles& FilesOf(int deviceType);
// 1 to 4 for a name as the "Type" box shows it ("VX300/700"); nothing otherwise.
std::optional<int> DeviceTypeFromName(const std::string& name);

struct RegisterDef {
    std::string name;  // at most 15 characters
    int number = -1;   // 0 to 255; -1 for a placeholder of the standard format
    int type = 0;      // ValueType
    int words = 0;
    bool hasBitFields = false;
};

struct BitFieldDef {
    std::string name;
    int registerNumber = 0;
    int firstBit = 0;
    int width = 0;
    std::vector<std::string> valueNames;
};

constexpr int kRegisterTableSize = 256;
constexpr int kBitFieldTableSize = 100;
constexpr int kRegisterWords = 256;
// Past this value an alternative bit-field line would only pad its name list with "---".
constexpr int kMaxBitFieldValue = 4096;

// The definition tables of the selected device type.
struct Definitions {
    std::array<RegisterDef, kRegisterTableSize> registerTable {};
    int registerCount = 0;
    std::array<BitFieldDef, kBitFieldTableSize> bitFieldTable {};
    int bitFieldCount = 0;
    int wordsPerRegister = 1;
    int sampleBase = 0;

    // Lowest index below registerCount with this number, or -1.
    int findRegisterIndex(int number) const;
    // Number of the first entry whose name, blanks removed at both ends, equals name; or -1.
    int findRegisterByName(const std::string& name) const;
};

// Outcome of a load: the texts of the errors to show, in order ("Error loading parameter file
// (LINE 3)"), and whether the register list and the bit-field list are to be rebuilt.
struct LoadResult {
    std::vector<std::string> errors;
    bool registersLoaded = false;
    bool bitFieldsLoaded = false;
};

// Loads the definitions of the device type from folder: the standard pair of files, or the
// alternative file when alt is set. State after an error is as the tool has always left it:
// entries up to the failing line hold new data while registerCount keeps its old value.
LoadResult LoadDefinitions(Definitions& defs, int deviceType, bool alt, const std::string& folder = ".");

// The same from file contents, for tests and tools.
LoadResult LoadStandard(Definitions& defs, int wordsPerRegister, const std::optional<std::string>& registerText,
                        const std::optional<std::string>& bitFieldText);
LoadResult LoadAlternative(Definitions& defs, int wordsPerRegister, const std::optional<std::string>& text);

// Lines as a text list reads them: CR, LF or CR LF end a line; a last line needs no end.
std::vector<std::string> SplitLines(const std::string& text);
// Value names of a standard bit-field line: a space ends a name, so two spaces give an empty one.
std::vector<std::string> splitValueNames(const std::string& text);

}  // namespace vindelor::registers
