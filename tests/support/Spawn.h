#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace vindelor::testing {

// A program run in the background through the shell, its output going to two files, for
// tests that act on the device while the program runs.
class Spawned {
public:
    // The command runs in folder when one is given.
    Spawned(const std::string& command, const std::string& outFile, const std::string& errFile,
            const std::string& folder = "")
        : out_(outFile), err_(errFile) {
        pid_ = ::fork();
        if (pid_ == 0) {
            if (!folder.empty() && ::chdir(folder.c_str()) != 0) ::_exit(127);
            const std::string line = "exec " + command + " >" + outFile + " 2>" + errFile;
            ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Spawned() {
        if (pid_ > 0 && status_ < -1) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Spawned(const Spawned&) = delete;
    Spawned& operator=(const Spawned&) = delete;

    static std::string Read(const std::string& path) {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string out() const { return Read(out_); }
    std::string err() const { return Read(err_); }

    // Waits until the output (or the error output) holds text; false after the time-out.
    bool waitFor(const std::string& text, bool onStderr, int timeoutMs) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            if ((onStderr ? err() : out()).find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // Sends the signal and goes on.
    void signal(int number) const {
        if (status_ < -1) ::kill(pid_, number);
    }

    // Sends the signal and waits for the end: the exit status, or -1 after the time-out.
    int stop(int signal, int timeoutMs) {
        if (signal) ::kill(pid_, signal);
        return wait(timeoutMs);
    }
    int wait(int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (status_ < -1) {
            int st = 0;
            if (::waitpid(pid_, &st, WNOHANG) == pid_) {
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
                break;
            }
            if (std::chrono::steady_clock::now() >= end) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return status_;
    }

private:
    pid_t pid_ = -1;
    int status_ = -2;  // -2 while running
    std::string out_;
    std::string err_;
};

}  // namespace vindelor::testing
