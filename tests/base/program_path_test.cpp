#include "base/program_path.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace morix {
namespace {

TEST(ProgramPathTest, RunningProgramIsFound) {
    EXPECT_EQ(std::filesystem::path(CurrentProgramPath()).filename(), "base_tests");
}

}  // namespace
}  // namespace morix
