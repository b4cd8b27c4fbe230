#pragma once

#include <string>

namespace vindelor::sim {

// A pseudo-terminal pair. The simulator talks on the master side; the tool opens the slave
// device like any serial port. The pair also keeps a descriptor of the slave open, so the
// master never sees a hang-up while no tool has the port open.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int masterFd() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    // Closes the master side: the tool then sees the line hang up, as with an unplugged adapter.
    void closeMaster();

private:
    int master_ = -1;
    int slaveKeeper_ = -1;
    std::string slavePath_;
};

// Makes "<folder>/comN" a symbolic link to path, creating the folder; returns the link path.
// Throws std::runtime_error when that fails.
std::string LinkPort(const std::string& folder, int portNumber, const std::string& path);

}  // namespace vindelor::sim
