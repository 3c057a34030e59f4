// A system call that failed: what was being done, to which path, and the
// errno value it gave.
#pragma once

#include <cstring>
#include <string>

namespace morix {

struct OsError {
    const char* operation = "";  // "open", "write", "flush", ... (a literal)
    std::string path;
    int error = 0;  // 0: nothing failed

    bool Failed() const { return error != 0; }
    // "path: reason", as the program's messages name a failure.
    std::string Text() const { return path + ": " + std::strerror(error); }
};

}  // namespace morix
