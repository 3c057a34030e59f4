// Whether the machine looks connected, before the version check starts.
#pragma once

namespace morix {

// True when a network interface other than loopback is up, running and has
// an address. Cheap and local: it sends nothing.
bool HasUsableNetwork();

}  // namespace morix
