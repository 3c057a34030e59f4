// A settings store kept in memory, whose stored values tests can inspect.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "base/settings_store.h"
#include "support/memory_settings_backend.h"

namespace morix::testing {

struct MemorySettings {
    MemorySettings() : MemorySettings(std::make_unique<MemoryBackend>()) {}

    // The stored "UpdateCheckTime", or -1 when none is stored.
    long long StoredCheckTime() const {
        const auto it = backend->values.find("UpdateCheckTime");
        if (it == backend->values.end()) return -1;
        const auto* value = std::get_if<std::uint64_t>(&it->second);
        return value ? static_cast<long long>(*value) : -2;
    }

    MemoryBackend* backend;
    SettingsStore store;

  private:
    explicit MemorySettings(std::unique_ptr<MemoryBackend> owned)
        : backend(owned.get()), store(std::move(owned)) {
        backend->available = true;  // an existing, empty store
    }
};

}  // namespace morix::testing
