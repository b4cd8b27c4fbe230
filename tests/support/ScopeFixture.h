#pragma once

// The simulated motor with the definitions of defs/, for tests that run vindelor-cli scope.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "registers/Definitions.h"
#include "sim/DeviceSetup.h"
#include "support/RunCli.h"
#include "support/SimFixture.h"
#include "support/TempDir.h"

namespace vindelor::testing {

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

inline std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, ',');) out.push_back(f);
    return out;
}

class CliScope : public CliSimFixture {
protected:
    void SetUp() override {
        CliSimFixture::SetUp();
        ASSERT_EQ(sim::ConfigureAsMotor(*device, registers::VX20_95, defs()), "");
        ASSERT_TRUE(registers::LoadDefinitions(d, registers::VX20_95, false, defs()).errors.empty());
        // The first channel (the velocity) moves, so the rows differ.
        device->setLive(static_cast<int>(selector(0)), [](sim::Clock::time_point at) {
            return static_cast<std::uint32_t>(at.time_since_epoch().count() / 1000) & 0x7FFF;
        });
    }
    static std::string defs() { return std::string(VINDELOR_SOURCE_DIR) + "/defs"; }
    std::uint32_t selector(int c) const { return device->value(d.sampleBase + c); }
    CliRun run(const std::string& args) { return RunCli(portArg() + " " + args, "cd " + defs() + " &&"); }
    TempDir dir;
    registers::Definitions d;
};

}  // namespace vindelor::testing
