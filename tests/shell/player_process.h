// The player run as its own process, for tests that only look at what it writes: its exit
// status, out.txt, err.txt and the files it leaves.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace playerprocess {

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs lux32 with the arguments in the current folder (stdout to out.txt, stderr to err.txt);
// returns its exit status, or -1 when it did not exit normally.
inline int runPlayer(const std::string& arguments) {
    std::string command =
        std::string(LUX_BINARY_DIR) + "/lux32 " + arguments + " >out.txt 2>err.txt";
    int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace playerprocess
