#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/Notifier.h"
#include "protocol/Sender.h"
#include "registers/Definitions.h"

namespace vindelor::registers {

// What the register list needs from the window around it. The view calls tell the window
// which parts of the model changed; they default to doing nothing.
class RegisterListHost {
public:
    virtual ~RegisterListHost() = default;
    virtual protocol::Sender& sender() = 0;
    virtual protocol::Notifier& notifier() = 0;
    // Clears the "Send" and "Recieved" memos.
    virtual void clearMemos() {}
    // The value-entry dialog: the typed text, or nothing when it was not closed with OK.
    virtual std::optional<std::string> askValue(const std::string& registerName) = 0;
    // Waits between a write and its read-back; the window keeps painting meanwhile.
    virtual void pause(int ms) = 0;
    // Opens a definition file in the desktop's text editor without waiting for it.
    virtual void openEditor(const std::string& /*path*/) {}

    virtual void listRebuilt() {}                       // every line of lbParams may have changed
    virtual void lineChanged(int /*index*/) {}          // one line of lbParams
    virtual void bitFieldsChanged() {}                  // lbBitInfo
    virtual void sampleRowAdded() {}                    // a new last row of lvSample
    virtual void samplesCleared() {}
    virtual void sampleColumnChanged(int /*column*/) {} // caption of column 1..4
    virtual void saveValsChanged() {}                   // meSaveVals shown and appended to
    virtual void altFilesChanged() {}                   // the "Alt." check box
};

// The register view of the first tab without its widgets: register lines, bit-field lines,
// sample rows, the value cache and the keyboard commands.
class RegisterList {
public:
    static constexpr int kSampleChannels = 4;
    static constexpr int kReadBackDelayMs = 100;

    explicit RegisterList(RegisterListHost& host);

    // Settings the window's controls hold.
    int deviceType = VX20_95;
    bool altFiles = false;
    bool hexView = false;
    std::string folder = ".";
    // Searched in order when folder holds none of the files the load reads (the user's and the
    // shipped definition folders); empty for folder alone.
    std::vector<std::string> fallbackFolders;
    // The folder the last load read from.
    std::string loadedFrom = ".";

    // Reloads the definitions of the device type and rebuilds both lists; load errors are
    // shown through the notifier.
    void reload();

    std::string formatRegisterLine(int index) const;
    void refreshBitFields();
    void onRegisterValue(int number, std::uint32_t value);
    void setSampleChannel(int channel, int registerNumber);
    void requestSamples();
    void addSampleRow(std::span<const std::uint8_t> data);
    // Reads the register of a table entry; a failure shows "Error sending".
    void RequestRegister(int index);
    bool editRegister(int index);
    bool editRegisterGroup(int index);
    // A key typed in the register list, with the selected line (-1 for none).
    void keyPress(char key, int selected);

    // The buttons of the tab.
    void btnClearSampleClick();
    void btnResetClick();
    void btnWriteToFlashClick();
    void btnEnterSafeClick();
    void btnExitSafeClick();

    Definitions defs;
    std::array<std::uint16_t, kRegisterWords> registerWords {};
    std::array<int, kSampleChannels> sampleTypes {};
    std::array<std::string, kSampleChannels> sampleCaptions {"1", "2", "3", "4"};
    std::vector<std::string> lines;          // lbParams
    std::vector<std::string> bitFieldLines;  // lbBitInfo
    // The raw value each line of lbParams was made from (one word, or two for a two-word type;
    // the hex view aside) and the value each line of lbBitInfo shows. A line keeps its value
    // until it is made again, even where a later reply wrote the same word.
    std::vector<std::uint32_t> lineValues;
    std::vector<std::uint32_t> bitFieldValues;
    std::vector<std::array<std::string, 1 + kSampleChannels>> sampleRows;  // lvSample
    std::vector<std::string> saveVals;       // meSaveVals
    bool saveValsVisible = false;

private:
    // The two words at a register number as one value (high word 0 past the store).
    std::uint32_t twoWords(int number) const;
    // The raw value of a table entry in the store now.
    std::uint32_t rawValue(int index) const;
    std::uint32_t bitFieldValue(int index) const;
    void setLine(int index);
    bool sendWrite(int index, bool group);
    void command(std::uint8_t letter);
    void appendSaveVals(int index, bool asCode);

    RegisterListHost& host_;
};

}  // namespace vindelor::registers
