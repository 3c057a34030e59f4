#include "update/network_state.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

namespace morix {

bool HasUsableNetwork() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    bool usable = false;
    for (const ifaddrs* a = list; a != nullptr && !usable; a = a->ifa_next) {
        if (a->ifa_addr == nullptr) continue;
        const int family = a->ifa_addr->sa_family;
        const unsigned flags = a->ifa_flags;
        usable = (family == AF_INET || family == AF_INET6) && (flags & IFF_UP) &&
                 (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK);
    }
    ::freeifaddrs(list);
    return usable;
}

}  // namespace morix
