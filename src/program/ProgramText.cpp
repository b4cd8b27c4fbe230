#include "program/ProgramText.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "program/TVarpCode.h"

namespace vindelor::program {

namespace {

// Named commands of AddCommand: name, opcode, operand bytes.
struct NamedCommand {
    std::string_view name;
    std::uint8_t opcode;
    int operands;
};
constexpr NamedCommand kNamedCommands[] = {
    {"end", 0x00, 0},
    {"wait-in-position", 0x01, 0},
    {"wait-not-in-position", 0x02, 0},
    {"test-inputs", 0x04, 3},
    {"clear-edges", 0x06, 0},
    {"fastvx", 0x07, 1},
};

constexpr std::string_view kTestModes[] = {"high", "low", "edge-high", "edge-low"};

// Operand bytes AddCommand encodes for an opcode.
int OperandCount(std::uint8_t opcode) {
    switch (opcode) {
        case 0x04: return 3;
        case 0x05: case 0x07: case 0x08: return 1;
        default: return 0;
    }
}

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::vector<std::string_view> Words(std::string_view s) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; };
    while (i < s.size()) {
        while (i < s.size() && space(s[i])) ++i;
        const std::size_t start = i;
        while (i < s.size() && !space(s[i])) ++i;
        if (i > start) words.push_back(s.substr(start, i - start));
    }
    return words;
}

class LineReader {
public:
    explicit LineReader(int line) : line_(line) {}

    [[noreturn]] void Fail(const std::string& reason) const { throw ProgramTextError(line_, reason); }

    unsigned Number(std::string_view word, const char* what, unsigned max) const {
        int base = 10;
        std::string_view digits = word;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            base = 16;
            digits.remove_prefix(2);
        } else if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'b' || digits[1] == 'B')) {
            base = 2;
            digits.remove_prefix(2);
        }
        unsigned long value = 0;
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
        if (digits.empty() || ec == std::errc::invalid_argument || end != digits.data() + digits.size())
            Fail(std::string("not a number for ") + what + ": " + std::string(word));
        if (ec == std::errc::result_out_of_range || value > max)
            Fail(std::string(what) + " " + std::string(word) + " is above " + std::to_string(max));
        return static_cast<unsigned>(value);
    }

    std::uint8_t Byte(std::string_view word, const char* what) const {
        return static_cast<std::uint8_t>(Number(word, what, 0xFF));
    }

    void Count(const std::vector<std::string_view>& args, std::size_t n, std::string_view operation) const {
        if (args.size() != n)
            Fail(std::string(operation) + " takes " + std::to_string(n) + (n == 1 ? " operand" : " operands") +
                 ", not " + std::to_string(args.size()));
    }

private:
    int line_;
};

ProgramTextLine ParseCommandLine(const LineReader& r, std::uint16_t maxLabel, std::uint16_t label,
                                 std::string_view operationWord, const std::vector<std::string_view>& args) {
    ProgramTextLine out;
    out.label = label;
    const std::string operation = Lower(operationWord);
    for (const NamedCommand& c : kNamedCommands) {
        if (operation != c.name) continue;
        r.Count(args, static_cast<std::size_t>(c.operands), operation);
        out.kind = ProgramTextLine::Command;
        out.opcode = c.opcode;
        for (std::size_t i = 0; i < args.size(); ++i) out.operands[i] = r.Byte(args[i], "an operand byte");
        return out;
    }
    if (operation == "command") {
        if (args.empty()) r.Fail("command needs an opcode");
        out.kind = ProgramTextLine::Command;
        out.opcode = r.Byte(args[0], "the opcode");
        const int n = OperandCount(out.opcode);
        if (static_cast<int>(args.size()) - 1 != n)
            r.Fail("opcode " + std::string(args[0]) + " takes " + std::to_string(n) +
                   (n == 1 ? " operand byte" : " operand bytes") + ", not " + std::to_string(args.size() - 1));
        for (std::size_t i = 1; i < args.size(); ++i) out.operands[i - 1] = r.Byte(args[i], "an operand byte");
        return out;
    }
    if (operation == "test-input") {
        r.Count(args, 2, operation);
        out.kind = ProgramTextLine::TestInput;
        const std::string mode = Lower(args[0]);
        const auto* named = std::find(std::begin(kTestModes), std::end(kTestModes), mode);
        out.operands[0] = named != std::end(kTestModes) ? static_cast<std::uint8_t>(named - std::begin(kTestModes))
                                                        : r.Byte(args[0], "the test mode");
        out.operands[1] = r.Byte(args[1], "the input");
        return out;
    }
    if (operation == "output") {
        r.Count(args, 2, operation);
        out.kind = ProgramTextLine::OutputAction;
        out.operands[0] = r.Byte(args[0], "the output action");
        out.operands[1] = r.Byte(args[1], "the output");
        return out;
    }
    if (operation == "jump") {
        r.Count(args, 2, operation);
        out.kind = ProgramTextLine::Jump;
        out.operands[0] = r.Byte(args[0], "the jump condition");
        if (Lower(args[1]) == "end") {
            if (maxLabel == 0xFFFF) r.Fail("no label lies above max-label 65535, so a jump cannot name the end");
            out.target = static_cast<std::uint16_t>(maxLabel + 1);
        } else {
            out.target = static_cast<std::uint16_t>(r.Number(args[1], "the jump target", 0xFFFF));
        }
        return out;
    }
    r.Fail("unknown operation " + std::string(operationWord));
}

}  // namespace

ProgramText ParseProgramText(std::string_view text) {
    ProgramText program;
    int lineNumber = 0;
    bool maxLabelSet = false;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++lineNumber;
        const LineReader r(lineNumber);
        if (auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
        std::vector<std::string_view> words = Words(line);
        if (words.empty()) continue;

        if (Lower(words[0]) == "max-label") {
            if (maxLabelSet) r.Fail("max-label is given twice");
            if (!program.lines.empty()) r.Fail("max-label must come before the first command");
            if (words.size() != 2) r.Fail("max-label takes one number");
            program.maxLabel = static_cast<std::uint16_t>(r.Number(words[1], "max-label", 0xFFFF));
            maxLabelSet = true;
            continue;
        }

        // "N:" may stand alone or be glued to the operation ("0:end").
        std::string_view first = words[0];
        const std::size_t colon = first.find(':');
        if (colon == std::string_view::npos) r.Fail("a command line starts with its label number and a colon, as in \"0: end\"");
        std::string_view labelWord = first.substr(0, colon);
        std::string_view rest = first.substr(colon + 1);
        std::vector<std::string_view> tail(words.begin() + 1, words.end());
        if (!rest.empty()) tail.insert(tail.begin(), rest);
        if (labelWord.empty()) r.Fail("the label number is missing before the colon");
        const unsigned label = r.Number(labelWord, "the label", 0xFFFF);
        if (label > program.maxLabel)
            r.Fail("label " + std::to_string(label) + " is above max-label " + std::to_string(program.maxLabel));
        if (tail.empty()) r.Fail("the operation is missing after the label");
        std::vector<std::string_view> args(tail.begin() + 1, tail.end());
        ProgramTextLine parsed = ParseCommandLine(r, program.maxLabel, static_cast<std::uint16_t>(label), tail[0], args);
        parsed.line = lineNumber;
        program.lines.push_back(parsed);
    }
    return program;
}

std::vector<std::uint8_t> AssembleProgram(const ProgramText& program, const std::string& logPath) {
    // A jump is bound when its label, or a higher one up to max-label, is borne by a command.
    int highestBorne = -1;
    for (const ProgramTextLine& l : program.lines) highestBorne = std::max(highestBorne, static_cast<int>(l.label));
    for (const ProgramTextLine& l : program.lines) {
        if (l.kind == ProgramTextLine::Jump && l.target <= program.maxLabel && static_cast<int>(l.target) > highestBorne)
            throw ProgramTextError(l.line, "the jump goes to label " + std::to_string(l.target) +
                                               ", but no command bears that label or a higher one up to max-label " +
                                               std::to_string(program.maxLabel));
    }

    TVarpCode code(program.maxLabel, logPath);
    for (const ProgramTextLine& l : program.lines) {
        try {
            switch (l.kind) {
                case ProgramTextLine::Command:
                    code.AddCommand(l.label, l.opcode, l.operands[0], l.operands[1], l.operands[2]);
                    break;
                case ProgramTextLine::TestInput: code.AddTestInput(l.label, l.operands[0], l.operands[1]); break;
                case ProgramTextLine::OutputAction: code.AddOutputAction(l.label, l.operands[0], l.operands[1]); break;
                case ProgramTextLine::Jump: code.AddJump(l.label, l.operands[0], l.target); break;
            }
        } catch (const VarpError& e) {
            throw ProgramTextError(l.line, e.what());
        }
    }
    code.Optimise();
    return code.GetCode();
}

}  // namespace vindelor::program
