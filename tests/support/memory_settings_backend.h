// A settings backend in memory that counts what the store asks of it.
#pragma once

#include <map>
#include <string>

#include "base/settings_backend.h"

namespace morix::testing {

class MemoryBackend final : public ISettingsBackend {
  public:
    bool available = false;  // false: nothing can be opened, as before the first write
    bool failWrites = false;
    std::map<std::string, StoredValue, std::less<>> values;
    int reads = 0;
    int writes = 0;
    int removes = 0;

    ReadStatus Read(std::string_view name, StoredValue& value) override {
        ++reads;
        if (!available) return ReadStatus::kUnavailable;
        const auto it = values.find(name);
        if (it == values.end()) return ReadStatus::kMissing;
        value = it->second;
        return ReadStatus::kFound;
    }
    bool Write(std::string_view name, const StoredValue& value) override {
        ++writes;
        if (failWrites) return false;
        available = true;
        values[std::string(name)] = value;
        return true;
    }
    bool Remove(std::string_view name) override {
        ++removes;
        if (failWrites) return false;
        available = true;
        const auto it = values.find(name);
        if (it != values.end()) values.erase(it);
        return true;
    }
};

}  // namespace morix::testing
