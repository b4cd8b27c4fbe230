#include "registers/RegisterList.h"

#include <cctype>
#include <cstdio>

#include "registers/DefinitionFolders.h"
#include "registers/Scope.h"
#include "registers/ValueType.h"
#include "util/Text.h"

namespace vindelor::registers {

namespace {

using util::Format;
using util::TrimRight;

}  // namespace

RegisterList::RegisterList(RegisterListHost& host) : host_(host) {}

std::uint32_t RegisterList::twoWords(int number) const {
    if (number < 0 || number >= kRegisterWords) return 0;
    std::uint32_t v = registerWords[static_cast<std::size_t>(number)];
    if (number + 1 < kRegisterWords) v |= static_cast<std::uint32_t>(registerWords[static_cast<std::size_t>(number) + 1]) << 16;
    return v;
}

void RegisterList::reload() {
    std::vector<std::string> folders {folder};
    folders.insert(folders.end(), fallbackFolders.begin(), fallbackFolders.end());
    const LoadResult r = fallbackFolders.empty() ? LoadDefinitions(defs, deviceType, altFiles, folder)
                                                 : LoadFromFolders(defs, deviceType, altFiles, folders, loadedFrom);
    if (fallbackFolders.empty()) loadedFrom = folder;
    if (r.registersLoaded) {
        lines.clear();
        lineValues.clear();
        for (int i = 0; i < defs.registerCount; ++i) setLine(i);
        host_.listRebuilt();
    }
    if (r.bitFieldsLoaded) refreshBitFields();
    for (const auto& e : r.errors) host_.notifier().warning("Error", e);
}

std::string RegisterList::formatRegisterLine(int index) const {
    const RegisterDef& def = defs.registerTable[static_cast<std::size_t>(index)];
    const char* name = def.name.c_str();
    if (def.type == Dummy) return Format("***:%-15.15s", name);
    const std::string value = hexView ? hexValueText(twoWords(def.number)) : valueText(def.type, rawValue(index));
    return Format("%3d:%-15.15s %10s  %-7s", def.number, name, value.c_str(), TypeDisplayName(def.type));
}

std::uint32_t RegisterList::rawValue(int index) const {
    const RegisterDef& def = defs.registerTable[static_cast<std::size_t>(index)];
    if (def.words >= 2) return twoWords(def.number);
    if (def.number >= 0 && def.number < kRegisterWords) return registerWords[static_cast<std::size_t>(def.number)];
    return 0;
}

std::uint32_t RegisterList::bitFieldValue(int index) const {
    const BitFieldDef& bf = defs.bitFieldTable[static_cast<std::size_t>(index)];
    const std::uint32_t shift = static_cast<std::uint32_t>(bf.firstBit) & 31u;
    const std::uint32_t mask = 0xFFFFFFFFu >> (static_cast<std::uint32_t>(32 - bf.width) & 31u);
    return (twoWords(bf.registerNumber) >> shift) & mask;
}

void RegisterList::setLine(int index) {
    const auto at = static_cast<std::size_t>(index);
    if (lines.size() < at + 1) lines.resize(at + 1);
    if (lineValues.size() < at + 1) lineValues.resize(at + 1);
    lines[at] = formatRegisterLine(index);
    lineValues[at] = rawValue(index);
}

void RegisterList::refreshBitFields() {
    bitFieldLines.clear();
    bitFieldValues.clear();
    for (int i = 0; i < defs.bitFieldCount; ++i) {
        const BitFieldDef& bf = defs.bitFieldTable[static_cast<std::size_t>(i)];
        const std::uint32_t v = bitFieldValue(i);
        bitFieldValues.push_back(v);
        const char* valueName = v < bf.valueNames.size() ? bf.valueNames[v].c_str() : "";
        bitFieldLines.push_back(Format("%-12.12s %4d %s", bf.name.c_str(), static_cast<std::int32_t>(v), valueName));
    }
    host_.bitFieldsChanged();
}

void RegisterList::onRegisterValue(int number, std::uint32_t value) {
    number &= 0xFFFF;
    const int i = defs.findRegisterIndex(number);
    if (i < 0 || number >= kRegisterWords) return;
    const RegisterDef& def = defs.registerTable[static_cast<std::size_t>(i)];
    registerWords[static_cast<std::size_t>(number)] = static_cast<std::uint16_t>(value & 0xFFFF);
    // The high word lives in the next register number; register 255 has no room for it.
    if (def.words >= 2 && number + 1 < kRegisterWords)
        registerWords[static_cast<std::size_t>(number) + 1] = static_cast<std::uint16_t>(value >> 16);
    if (number >= defs.sampleBase && number <= defs.sampleBase + kSampleChannels - 1)
        setSampleChannel(number - defs.sampleBase, static_cast<int>(value & 0xFFFF));
    setLine(i);
    host_.lineChanged(i);
    if (def.hasBitFields) refreshBitFields();
}

void RegisterList::setSampleChannel(int channel, int registerNumber) {
    const int j = defs.findRegisterIndex(registerNumber);
    if (j < 0) return;
    const RegisterDef& def = defs.registerTable[static_cast<std::size_t>(j)];
    sampleTypes[static_cast<std::size_t>(channel)] = def.type;
    sampleCaptions[static_cast<std::size_t>(channel)] = TrimRight(def.name);
    host_.sampleColumnChanged(channel + 1);
}

void RegisterList::RequestRegister(int index) {
    if (index < 0 || index >= kRegisterTableSize) return;
    const RegisterDef& def = defs.registerTable[static_cast<std::size_t>(index)];
    if (def.type == Dummy || def.number < 0) return;
    try {
        host_.sender().SendReadRequest(static_cast<std::uint8_t>(def.number));
    } catch (const std::exception&) {
        host_.notifier().warning("Error", "Error sending");
    }
}

void RegisterList::requestSamples() {
    if (sampleRows.empty()) {
        for (int k = 0; k < kSampleChannels; ++k) {
            const int j = defs.findRegisterIndex(defs.sampleBase + k);
            if (j >= 0) RequestRegister(j);
        }
    }
    host_.sender().SendCommand(protocol::Cmd::Sample);
}

void RegisterList::addSampleRow(std::span<const std::uint8_t> data) {
    std::array<std::string, 1 + kSampleChannels> row;
    row[0] = std::to_string(sampleRows.size() + 1);
    for (int c = 0; c < kSampleChannels; ++c) {
        const int type = sampleTypes[static_cast<std::size_t>(c)];
        // A short reply reads as zeros rather than past its end.
        row[static_cast<std::size_t>(c) + 1] = sampleText(type, sampleRaw(data, c, type, defs.wordsPerRegister));
    }
    sampleRows.push_back(row);
    host_.sampleRowAdded();
}

bool RegisterList::sendWrite(int index, bool group) {
    if (index < 0 || index >= kRegisterTableSize) return false;
    const RegisterDef& def = defs.registerTable[static_cast<std::size_t>(index)];
    // Placeholders hold nothing, and a version word is the device's own: neither is typed in.
    if (def.type == Dummy || def.type == Version || def.number < 0) return false;
    const auto text = host_.askValue(def.name);
    if (!text) return false;
    const auto raw = parseValue(def.type, *text);
    if (!raw) {
        host_.notifier().warning("Error", "Invalid number");
        return false;
    }
    host_.clearMemos();
    try {
        const auto number = static_cast<std::uint8_t>(def.number);
        if (group)
            host_.sender().SendGroupWriteRequest(number, def.words, static_cast<std::uint32_t>(*raw));
        else
            host_.sender().SendWriteRequest(number, def.words, static_cast<std::uint32_t>(*raw));
    } catch (const std::exception&) {
        host_.notifier().warning("Error", "Invalid number");
        return false;
    }
    return true;
}

bool RegisterList::editRegister(int index) { return sendWrite(index, false); }
bool RegisterList::editRegisterGroup(int index) { return sendWrite(index, true); }

void RegisterList::appendSaveVals(int index, bool asCode) {
    const RegisterDef& def = defs.registerTable[static_cast<std::size_t>(index)];
    // A placeholder has no register number: there is nothing to copy.
    if (def.number < 0 || def.number >= kRegisterWords) return;
    const char* format = asCode ? "{ 0x%02x,0x%04x }, // %10s" : "0x%02x   0x%04x   %10s";
    saveValsVisible = true;
    const auto n = static_cast<std::size_t>(def.number);
    saveVals.push_back(Format(format, def.number, registerWords[n], def.name.c_str()));
    if (def.words > 1 && n + 1 < registerWords.size())
        saveVals.push_back(Format(format, def.number + 1, registerWords[n + 1], def.name.c_str()));
    host_.saveValsChanged();
}

void RegisterList::keyPress(char key, int selected) {
    const bool lineSelected = selected >= 0 && selected < defs.registerCount;
    switch (key) {
        case 'A': case 'a':
            altFiles = !altFiles;
            host_.altFilesChanged();
            reload();
            return;
        case 'E': case 'e':
            if (altFiles) host_.openEditor(FilesOf(deviceType).altFile);
            return;
        case 'R': case 'r':
            if (!lineSelected) return;
            host_.clearMemos();
            RequestRegister(selected);
            return;
        case 'W': case 'w': case 'G': case 'g': {
            if (!lineSelected) return;
            const bool group = key == 'G' || key == 'g';
            if (sendWrite(selected, group)) {
                host_.pause(kReadBackDelayMs);
                RequestRegister(selected);
            }
            return;
        }
        case 'I': case 'i':
            host_.sender().NextSequence();
            return;
        case 'S': case 's':
            host_.clearMemos();
            requestSamples();
            return;
        case 'B': case 'N':
            if (lineSelected) appendSaveVals(selected, key == 'N');
            return;
        default:
            return;
    }
}

void RegisterList::btnClearSampleClick() {
    sampleRows.clear();
    host_.samplesCleared();
}

void RegisterList::command(std::uint8_t letter) {
    host_.clearMemos();
    host_.sender().SendCommand(letter);
}

void RegisterList::btnResetClick() { command(protocol::Cmd::Reset); }
void RegisterList::btnWriteToFlashClick() { command(protocol::Cmd::WriteFlash); }
void RegisterList::btnEnterSafeClick() { command(protocol::Cmd::SafeEnter); }
void RegisterList::btnExitSafeClick() { command(protocol::Cmd::SafeExit); }

}  // namespace vindelor::registers
