// CPU time of this process and of its threads, for the benchmarks that measure what waiting
// or streaming costs.
#pragma once

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

namespace vindelor::bench {

// User plus system time of the whole process, in seconds.
inline double ProcessCpuSeconds() {
    rusage u {};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The ids of this process's threads now.
inline std::set<int> ThreadIds() {
    std::set<int> ids;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ids.insert(std::stoi(e->d_name));
        ::closedir(d);
    }
    return ids;
}

// User plus system time of one thread of this process, in seconds; 0 once it has ended.
inline double ThreadCpuSeconds(int tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (stat.empty()) return 0;
    // Fields after the command name (which is in parentheses and may hold spaces).
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace vindelor::bench
