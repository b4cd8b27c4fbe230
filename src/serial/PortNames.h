#pragma once

#include <optional>
#include <string>

namespace vindelor::serial {

// The port box keeps the numbered ports COM1 to COM63 on every platform. On Linux, COMn is the
// symbolic link "comN" in the port folder if there is one, else COM1-COM32 are /dev/ttyS0-31
// and COM33-COM63 are /dev/ttyUSB0-30.
constexpr int kFirstListedPort = 1;
constexpr int kLastListedPort = 63;

// $VINDELOR_PORT_DIR, else ~/.config/Kyvane/ports.
std::string PortFolder();

// The device a port number stands for; empty when the number names no device.
std::string DevicePathForPort(int portNumber);

// "COM7" or "com7" gives 7; anything else gives nothing.
std::optional<int> ParsePortName(const std::string& text);

// True when the path names something that exists (a dangling link does not).
bool DeviceExists(const std::string& path);

}  // namespace vindelor::serial
