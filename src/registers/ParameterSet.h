#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vindelor::registers {

// One register of a saved parameter set.
struct ParameterEntry {
    std::string name;  // as the definitions name it, trailing blanks removed
    int number = 0;
    int type = 0;  // ValueType; never the placeholder
    // Words the register takes on the device: as its type needs on the small devices; two for
    // every register on the large ones (VX300/700, KT56), whatever its type.
    int words = 1;
    std::uint32_t raw = 0;  // the register's words; a one-word register holds only the low 16 bits
    int line = 0;           // where it stands in the file it was read from; 0 when made

    // The value as the register list shows it, without the blanks around it.
    std::string valueText() const;
};

// The parameters of one device as a text file that people can read, diff and keep under
// version control: a header, then one line per register in register order, then a line that
// counts them (so a file cut short is found out):
//
//   # Vindelor parameter set
//   vindelor-parameters 1
//   program  1.28
//   type     VX20-95
//   address  3
//   firmware 1.28
//   serial   20261210
//   date     2025-06-01T12:00:00Z
//   "MODE"              1  uint16   0x0001      1
//   "GEAR"             18  fixed16  0x00018000  1.5000000
//   end 2
//
// A register line holds the name in double quotes, the register number, the value type as the
// alternative definition files name it, the raw words as one hexadecimal number (4 digits for
// one word, 8 for two: on the large devices every register has two) and the value as the
// register list shows it. Lines starting with '#'
// and blank lines are comments.
struct ParameterSet {
    static constexpr int kFormatVersion = 1;

    std::string program;     // version of the program that saved it
    std::string deviceType;  // as the "Type" box names it
    int address = 0;
    std::string firmware;  // version text; empty when the definitions name no FIRMWARE register
    std::string serial;    // empty when they name no SERIAL register
    std::string date;      // UTC, ISO 8601
    std::vector<ParameterEntry> entries;  // in register order

    // The entry with this register number, or null.
    const ParameterEntry* find(int number) const;
};

std::string FormatParameterSet(const ParameterSet& set);

// Why a text is no parameter set: the 1-based line that is wrong (the last line when the file
// ends too soon) and what is wrong with it.
struct ParameterFileError {
    int line = 0;
    std::string message;
};

// Every line is checked: the header, each register line's fields, the value against the raw
// words it stands for (so a changed digit is found), register numbers given twice, and the
// closing count.
std::variant<ParameterSet, ParameterFileError> ParseParameterSet(std::string_view text);

// Reads and parses a file. On failure, error holds one line naming the file and, for a damaged
// file, the line: "params.txt:12: ...".
bool ReadParameterFile(const std::string& path, ParameterSet& set, std::string& error);

// Writes the file safely (temporary file and rename); an empty string or the reason.
std::string WriteParameterFile(const std::string& path, const ParameterSet& set);

// The current time as the header's date.
std::string ParameterDateNow();

}  // namespace vindelor::registers
