#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sim/DeviceModel.h"
#include "sim/FrameReader.h"

namespace vindelor::sim {

// A motor or module as seen through the register protocol: 256 register numbers of one or two
// 16-bit words each (by device type), register reads and writes, group writes, commands,
// samples and the module replies, each with plausible data so that every decoder of the tool
// can run end to end.
class RegisterDevice : public DeviceModel {
  public:
    static constexpr int kRegisterCount = 256;
    static constexpr std::size_t kModuleStatusSize = 108;
    static constexpr std::size_t kDebugDataSize = 255;
    static constexpr std::size_t kPollTextChunk = 64;
    static constexpr int kDemoLineMs = 2000;

    RegisterDevice();

    void onByte(std::uint8_t b, Clock::time_point at, std::vector<std::uint8_t>& reply) override;

    // Every device takes the requests to 255 as its own, as well as those to its address.
    static constexpr int kEveryone = 255;

    // Set-up and inspection; safe to call while the device runs.
    void setAddress(int address);
    void setGroup(int group);
    int address() const;
    int group() const;
    // Width in 16-bit words of the register with this number (1 unless set).
    void setWidth(int reg, int words);
    int width(int reg) const;
    // 16-bit words that one register number stands for: 1 on the small motors, where a two-word
    // register takes its high word from the next register number, and 2 on the large ones
    // (VX300/700, KT56), where every number holds two words of its own. It is also the width
    // of a sample in the 'S' reply. Set it before any value.
    void setWordsPerRegister(int words);
    void setSampleBase(int reg);
    // The register's value across its width, least significant word first.
    std::uint32_t value(int reg) const;
    void setValue(int reg, std::uint32_t value);
    // A register whose value is computed when it is read (a moving position, say).
    void setLive(int reg, std::function<std::uint32_t(Clock::time_point)> source);
    void setModuleInfo(const std::vector<std::uint8_t>& payload);
    void setModuleStatus(const std::vector<std::uint8_t>& payload);
    void setModuleRegister(int reg, std::int32_t value);
    std::int32_t moduleRegister(int reg) const;

    // The fieldbus module's text poll (' '): text queued here goes out with the next polls, at
    // most kPollTextChunk bytes a reply; an empty queue answers with no text.
    void feedModuleText(const std::string& text);
    // A module that prints a line about every kDemoLineMs on its own, for the demo.
    void setDemoText(bool on);
    // Poll requests answered so far.
    int pollCount() const;
    // The 8 bytes of the '0' reply, in place of the running timer block; empty to go back.
    void setDebugInfo(const std::vector<std::uint8_t>& block);
    // The data of the '@' reply; an 'A' request replaces it with its own data bytes.
    void setProfiData(const std::vector<std::uint8_t>& data);
    std::vector<std::uint8_t> profiData() const;
    // The data of the 'C' reply.
    void setDebugData(const std::vector<std::uint8_t>& data);
    // A motor that turns under the manual rotation: while register 2 holds 7, every write to
    // register 176 moves the position register on by the step (modulo 1143) from the last one.
    void followRotation(int positionRegister);

    // Every frame taken, in order.
    std::vector<Frame> frames() const;
    void clearFrames();
    int lastGroupSequence() const;

private:
    static constexpr std::size_t kRotationModeRegister = 2;
    static constexpr std::uint16_t kRotationMode = 7;
    static constexpr int kRotationStepRegister = 176;
    static constexpr std::int64_t kRotationModulo = 1143;

    bool rotating() const;
    void answerPoll(Clock::time_point at, std::vector<std::uint8_t>& reply);
    std::uint32_t readValue(int reg, Clock::time_point at) const;
    void writeBytes(int reg, const std::uint8_t* bytes, std::size_t n);
    void handle(const Frame& f, Clock::time_point at, std::vector<std::uint8_t>& reply);

    mutable std::mutex mutex_;
    FrameReader reader_;
    int address_ = 255;
    int group_ = 1;
    int wordsPerRegister_ = 1;
    int sampleBase_ = 2;
    int lastSequence_ = -1;
    // Register number n starts at word n × wordsPerRegister_.
    std::array<std::uint16_t, 2 * kRegisterCount> words_{};
    std::array<std::uint8_t, kRegisterCount> widths_{};
    std::array<std::function<std::uint32_t(Clock::time_point)>, kRegisterCount> live_{};
    std::array<std::int32_t, kRegisterCount> moduleRegisters_{};
    std::vector<std::uint8_t> moduleInfo_;
    std::vector<std::uint8_t> moduleStatus_;
    std::vector<Frame> frames_;
    Clock::time_point started_ = Clock::now();
    std::string moduleText_;
    bool demoText_ = false;
    Clock::time_point nextDemoLine_ {};
    int demoLines_ = 0;
    int polls_ = 0;
    std::vector<std::uint8_t> debugInfo_;
    std::vector<std::uint8_t> profiData_ = {0x01, 0x80, 0x55, 0xAA, 0x00, 0xFF, 0x12, 0x34};
    std::vector<std::uint8_t> debugData_;
    int positionRegister_ = -1;
    std::int32_t rotationPosition_ = 0;
};

// Appends a reply frame: the letter three times, destination 0, the body as pairs, the trailer.
void AppendReplyFrame(std::vector<std::uint8_t>& out, std::uint8_t letter,
                      const std::vector<std::uint8_t>& body);

}  // namespace vindelor::sim
