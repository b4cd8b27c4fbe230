#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

namespace vindelor::testing {

// Result of running vindelor-cli as a program.
struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the CLI (or another copy of it) with the arguments (shell-quoted by the caller) and
// collects its output.
inline CliRun RunCli(const std::string& args, const std::string& env = "", const std::string& program = VINDELOR_CLI) {
    const std::string errFile = std::filesystem::temp_directory_path() / ("vindelor-cli-err-" + std::to_string(::getpid()));
    const std::string command = env + " " + program + " " + args + " 2>" + errFile;
    CliRun r;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf {};
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), p)) r.out.append(buf.data(), n);
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (FILE* e = std::fopen(errFile.c_str(), "r")) {
        while (std::size_t n = std::fread(buf.data(), 1, buf.size(), e)) r.err.append(buf.data(), n);
        std::fclose(e);
    }
    std::remove(errFile.c_str());
    return r;
}

}  // namespace vindelor::testing
