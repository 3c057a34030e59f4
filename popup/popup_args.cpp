#include "popup/popup_args.h"

namespace tosk {
namespace {

bool SwitchIs(const std::string& argument, char letter) {
    if (argument.size() != 2 || argument[0] != '/') return false;
    const char c = argument[1];
    return c == letter || c == static_cast<char>(letter - 'A' + 'a');
}

}  // namespace

PopupArgs ParseArgs(const std::vector<std::string>& argv) {
    PopupArgs args;
    std::size_t i = 1;
    while (i < argv.size()) {
        std::string* field = nullptr;
        if (SwitchIs(argv[i], 'A'))
            field = &args.url;
        else if (SwitchIs(argv[i], 'S'))
            field = &args.sid;
        else if (SwitchIs(argv[i], 'N'))
            field = &args.nid;
        if (field == nullptr) {
            ++i;
            continue;
        }
        if (i + 1 >= argv.size()) break;  // a switch without its value at the end
        *field = argv[i + 1];
        i += 2;
    }
    return args;
}

}  // namespace tosk
