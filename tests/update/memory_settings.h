// A settings store kept in memory, whose stored values tests can inspect.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "app/settings/settings_store.h"

namespace morix::testing {

class MemorySettingsBackend final : public ISettingsBackend {
  public:
    ReadStatus Read(std::string_view name, StoredValue& value) override {
        const auto it = values.find(name);
        if (it == values.end()) return ReadStatus::kMissing;
        value = it->second;
        return ReadStatus::kFound;
    }
    bool Write(std::string_view name, const StoredValue& value) override {
        values[std::string(name)] = value;
        return true;
    }
    bool Remove(std::string_view name) override {
        values.erase(std::string(name));
        ++removes;
        return true;
    }

    std::map<std::string, StoredValue, std::less<>> values;
    int removes = 0;
};

struct MemorySettings {
    MemorySettings() : MemorySettings(std::make_unique<MemorySettingsBackend>()) {}

    // The stored "UpdateCheckTime", or -1 when none is stored.
    long long StoredCheckTime() const {
        const auto it = backend->values.find("UpdateCheckTime");
        if (it == backend->values.end()) return -1;
        const auto* value = std::get_if<std::uint64_t>(&it->second);
        return value ? static_cast<long long>(*value) : -2;
    }

    MemorySettingsBackend* backend;
    SettingsStore store;

  private:
    explicit MemorySettings(std::unique_ptr<MemorySettingsBackend> owned)
        : backend(owned.get()), store(std::move(owned)) {}
};

}  // namespace morix::testing
