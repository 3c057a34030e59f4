// The store's rules (defaults, cache, write-only-when-changed) against a
// backend in memory.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/settings_store.h"
#include "support/memory_settings_backend.h"

using namespace morix;
using morix::testing::MemoryBackend;
using namespace std::string_literals;

namespace {

class SettingsStoreTest : public ::testing::Test {
  protected:
    SettingsStoreTest() {
        auto owned = std::make_unique<MemoryBackend>();
        backend = owned.get();
        store = std::make_unique<SettingsStore>(std::move(owned));
    }
    MemoryBackend* backend;
    std::unique_ptr<SettingsStore> store;
};

TEST_F(SettingsStoreTest, NothingStoredReadsDefaultsCreatesNothingAndAsksAgain) {
    EXPECT_EQ(store->GetDword(kSettingStart, 1), 1u);
    EXPECT_EQ(store->GetQword(kSettingUpdateCheckTime, 0), 0u);
    EXPECT_EQ(store->GetString(kSettingExtension, u"jpg"), u"jpg");
    EXPECT_EQ(store->GetString(kSettingRecentTemplate1, std::nullopt), u"");
    EXPECT_EQ(backend->writes + backend->removes, 0);
    EXPECT_FALSE(backend->available);

    // Nothing was cached: values that appear later are read.
    backend->available = true;
    backend->values["BRStart"] = std::uint32_t{7};
    backend->values["BRExtension"] = u"png"s;
    EXPECT_EQ(store->GetDword(kSettingStart, 1), 7u);
    EXPECT_EQ(store->GetString(kSettingExtension, u"jpg"), u"png");
}

TEST_F(SettingsStoreTest, ValuesAndDefaultsAreCachedForTheRun) {
    backend->available = true;
    backend->values["BRStart"] = std::uint32_t{5};
    EXPECT_EQ(store->GetDword(kSettingStart, 1), 5u);
    EXPECT_EQ(store->GetDword(kSettingStep, 1), 1u);  // missing: the default is cached

    backend->values["BRStart"] = std::uint32_t{9};  // changed by another program
    backend->values["BRStep"] = std::uint32_t{3};
    const int readsBefore = backend->reads;
    EXPECT_EQ(store->GetDword(kSettingStart, 1), 5u);
    EXPECT_EQ(store->GetDword(kSettingStep, 1), 1u);
    EXPECT_EQ(backend->reads, readsBefore);
}

TEST_F(SettingsStoreTest, ValueOfAnotherKindReadsAsItsDefault) {
    backend->available = true;
    backend->values["BRStart"] = u"5"s;
    backend->values["BRMRN1"] = std::uint32_t{5};
    backend->values["UpdateCheckTime"] = std::uint32_t{1700000000};
    backend->values["BRStep"] = std::uint64_t{4};
    EXPECT_EQ(store->GetDword(kSettingStart, 1), 1u);
    EXPECT_EQ(store->GetString(kSettingRecentTemplate1, u"<N>"), u"<N>");
    EXPECT_EQ(store->GetQword(kSettingUpdateCheckTime, 0), 0u);
    EXPECT_EQ(store->GetDword(kSettingStep, 1), 1u);

    // The default is what was cached.
    backend->values["BRStart"] = std::uint32_t{5};
    EXPECT_EQ(store->GetDword(kSettingStart, 1), 1u);
}

TEST_F(SettingsStoreTest, NumbersEqualToTheirDefaultAreRemovedAndUnchangedOnesNotWritten) {
    backend->available = true;
    backend->values["BRNormalize"] = std::uint32_t{0};
    store->SetDword(kSettingNormalize, 1, 1);
    EXPECT_EQ(backend->values.count("BRNormalize"), 0u);

    store->SetDword(kSettingStart, 5, 1);
    store->SetDword(kSettingStart, 5, 1);
    EXPECT_EQ(backend->writes, 1);
    EXPECT_EQ(std::get<std::uint32_t>(backend->values["BRStart"]), 5u);

    backend->values["UpdateCheckTime"] = std::uint64_t{1u} << 40;
    store->SetQword(kSettingUpdateCheckTime, std::uint64_t{1u} << 40, 0);
    EXPECT_EQ(backend->writes, 1);  // the stored value already matched
    store->SetQword(kSettingUpdateCheckTime, 0xFFFFFFFFFFull, 0);
    EXPECT_EQ(std::get<std::uint64_t>(backend->values["UpdateCheckTime"]), 0xFFFFFFFFFFull);
    EXPECT_EQ(store->GetQword(kSettingUpdateCheckTime, 0), 0xFFFFFFFFFFull);
}

TEST_F(SettingsStoreTest, TextRulesWithAndWithoutDefault) {
    backend->available = true;
    backend->values["BRExtension"] = u"png"s;
    store->SetString(kSettingExtension, u"jpg", u"jpg");
    EXPECT_EQ(backend->values.count("BRExtension"), 0u);

    store->SetString(kSettingExtension, u"JPG", u"jpg");  // case counts
    store->SetString(kSettingExtension, u"JPG", u"jpg");  // now unchanged
    EXPECT_EQ(backend->writes, 1);
    EXPECT_EQ(std::get<std::u16string>(backend->values["BRExtension"]), u"JPG");

    backend->values["BRReplaceFrom"] = u"x"s;
    store->SetString(kSettingReplaceFrom, u"", std::nullopt);
    EXPECT_EQ(backend->values.count("BRReplaceFrom"), 0u);

    // Without a default the text is written every time.
    store->SetString(kSettingRecentTemplate1, u"<N>", std::nullopt);
    store->SetString(kSettingRecentTemplate1, u"<N>", std::nullopt);
    EXPECT_EQ(backend->writes, 3);
    EXPECT_EQ(store->GetString(kSettingRecentTemplate1, std::nullopt), u"<N>");
}

TEST_F(SettingsStoreTest, TextEndsAtItsFirstNul) {
    backend->available = true;
    backend->values["BRReplaceWith"] = u"ab\0cd"s;
    EXPECT_EQ(store->GetString(kSettingReplaceWith, std::nullopt), u"ab");
    store->SetString(kSettingReplaceFrom, u"xy\0z"s, std::nullopt);
    EXPECT_EQ(std::get<std::u16string>(backend->values["BRReplaceFrom"]), u"xy");
    store->SetString(kSettingExtension, u"\0tail"s, u"jpg");  // empty text, not the default
    EXPECT_EQ(std::get<std::u16string>(backend->values["BRExtension"]), u"");
}

TEST_F(SettingsStoreTest, FailedWriteKeepsTheNewValueForTheRun) {
    backend->failWrites = true;
    store->SetDword(kSettingCase, 3, 0);
    store->SetString(kSettingReplaceWith, u"new", std::nullopt);
    EXPECT_TRUE(backend->values.empty());
    EXPECT_EQ(store->GetDword(kSettingCase, 0), 3u);
    EXPECT_EQ(store->GetString(kSettingReplaceWith, std::nullopt), u"new");
}

TEST_F(SettingsStoreTest, DeleteRemovesTheValueAndForgetsTheCache) {
    store->SetDword(kSettingSortBy, 2, 0);
    EXPECT_EQ(store->GetDword(kSettingSortBy, 0), 2u);
    store->DeleteSetting(kSettingSortBy);
    EXPECT_EQ(backend->values.count("BRSortBy"), 0u);
    backend->values["BRSortBy"] = std::uint32_t{3};  // read again, not from the cache
    EXPECT_EQ(store->GetDword(kSettingSortBy, 0), 3u);
}

TEST_F(SettingsStoreTest, NumbersOutsideTheTableAreNeverStored) {
    store->SetDword(kSettingCount, 5, 1);
    store->SetString(-1, u"x", std::nullopt);
    store->DeleteSetting(1000);
    EXPECT_EQ(store->GetDword(kSettingCount, 4), 4u);
    EXPECT_EQ(store->GetString(-1, u"d"), u"d");
    EXPECT_EQ(backend->reads + backend->writes + backend->removes, 0);
    EXPECT_EQ(SettingValueName(kSettingCount), nullptr);
}

// Every thread writes settings of its own; the lock keeps the backend whole.
TEST_F(SettingsStoreTest, ThreadsWritingDifferentSettingsLoseNothing) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (std::uint32_t round = 1; round <= 500; ++round) {
                store->SetDword(kSettingStart + t, round + 1, 1);
                store->SetString(kSettingRecentTemplate1 + t, std::u16string(round % 7 + 1, u'a'),
                                 std::nullopt);
                store->GetQword(kSettingUpdateCheckTime, 0);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(std::get<std::uint32_t>(backend->values[SettingValueName(kSettingStart + t)]),
                  501u);
        EXPECT_EQ(std::get<std::u16string>(
                      backend->values[SettingValueName(kSettingRecentTemplate1 + t)]),
                  std::u16string(500 % 7 + 1, u'a'));
    }
}

}  // namespace
