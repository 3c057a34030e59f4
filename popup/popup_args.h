// The command line of tosk. morix writes
//   tosk /T "<title>" /A <url> /S <sid>[ /N <nid>][ /O <time>][ /F <tcol>][ /B <bcol>]
// and tosk reads only the page address and the two element ids.
#pragma once

#include <string>
#include <vector>

namespace tosk {

struct PopupArgs {
    std::string url;  // after /A
    std::string sid;  // after /S: the element that must exist and gives the size
    std::string nid;  // after /N: the element that must not exist
};

// argv[0] is the program and is never examined. /A, /S and /N are matched
// without regard to case and take the next argument as it stands, even when
// it looks like a switch; every other argument is skipped on its own.
PopupArgs ParseArgs(const std::vector<std::string>& argv);

}  // namespace tosk
