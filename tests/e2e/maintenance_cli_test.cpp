// The installer's commands of the real program: --install with its suffixes,
// --uninstall, --exit with nothing running, and the start's own errors.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/loopback_http_server.h"
#include "support/run_process.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace morix::testing {
namespace {

class MaintenanceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::chmod(runtime_.bytes().c_str(), 0700);
        config_.MakeFolder("Vantorel");
        std::ofstream(Settings()) << "UpdateCheckTime=qword:1700000000\nBRStart=dword:7\n";
    }

    std::string Settings() const { return config_.Path("Vantorel/Trelvo Renamer.conf"); }
    std::string Entry() const { return data_.Path("applications/trelvo-renamer.desktop"); }

    // The install ping's request line.
    std::string LastPing() const {
        const std::vector<std::string> requests = service_.Requests();
        if (requests.empty()) return {};
        return requests.back().substr(0, requests.back().find("&lang="));
    }

    TempDir data_;
    TempDir config_;
    TempDir runtime_;
    LoopbackHttpServer service_{HttpReply(200, "")};
    ScopedEnv dataHome_{"XDG_DATA_HOME", data_.bytes()};
    ScopedEnv configHome_{"XDG_CONFIG_HOME", config_.bytes()};
    ScopedEnv runtimeDir_{"XDG_RUNTIME_DIR", runtime_.bytes()};
    ScopedEnv serviceRoot_{"TRELVO_VERSION_SERVICE", service_.Root()};
};

TEST_F(MaintenanceTest, InstallPingsRegistersAndUninstallRemoves) {
    // A refresh keeps the update-check time; the command wins over the path.
    ProcessResult result = RunProcess({MORIX_BINARY, "a.txt", "--install=2"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(LastPing(), "GET /morix/install?version=1.8.0.0&type=refresh&add=");
    EXPECT_TRUE(std::filesystem::exists(Entry()));
    EXPECT_NE(TempDir::Read(Settings()).find("UpdateCheckTime"), std::string::npos);

    // An update makes the next start check again; other settings stay.
    result = RunProcess({MORIX_BINARY, "--install=1abc"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(LastPing(), "GET /morix/install?version=1.8.0.0&type=update&add=abc");
    EXPECT_EQ(TempDir::Read(Settings()).find("UpdateCheckTime"), std::string::npos);
    EXPECT_NE(TempDir::Read(Settings()).find("BRStart=dword:7"), std::string::npos);

    result = RunProcess({MORIX_BINARY, "--install"});
    EXPECT_EQ(LastPing(), "GET /morix/install?version=1.8.0.0&type=new&add=");
    result = RunProcess({MORIX_BINARY, "--install=7xyz"});
    EXPECT_EQ(LastPing(), "GET /morix/install?version=1.8.0.0&type=new&add=xyz");

    result = RunProcess({MORIX_BINARY, "--uninstall"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_FALSE(std::filesystem::exists(Entry()));
    EXPECT_EQ(service_.Requests().size(), 4u);  // uninstalling sends nothing
}

TEST_F(MaintenanceTest, UninstallingWhatIsNotThereSucceeds) {
    // Never registered, removed twice, one entry removed by the user first:
    // the entries are gone each time, which is what was asked.
    ProcessResult result = RunProcess({MORIX_BINARY, "--uninstall"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ASSERT_EQ(RunProcess({MORIX_BINARY, "--install"}).exitCode, 0);
    std::filesystem::remove(data_.Path("applications/trelvo-renamer-folder.desktop"));
    result = RunProcess({MORIX_BINARY, "--uninstall"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_FALSE(std::filesystem::exists(Entry()));
    result = RunProcess({MORIX_BINARY, "--uninstall"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
}

TEST_F(MaintenanceTest, FailedRegistrationIsNotReportedAsSuccess) {
    // A file where the applications folder belongs: nothing can be written.
    std::ofstream(data_.Path("applications")) << "not a folder";
    const ProcessResult result = RunProcess({MORIX_BINARY, "--install"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("could not register"), std::string::npos);
}

TEST_F(MaintenanceTest, ExitWithNothingRunningEndsAtOnce) {
    const ProcessResult result = RunProcess({MORIX_BINARY, "--exit"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
}

TEST_F(MaintenanceTest, VersionHelpAndBadOptions) {
    ProcessResult result = RunProcess({MORIX_BINARY, "--version"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "morix (Trelvo Renamer) 1.8.0.0\n");
    result = RunProcess({MORIX_BINARY, "--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("--install[=SUFFIX]"), std::string::npos);
    EXPECT_NE(result.out.find("--preview"), std::string::npos);
    const std::pair<const char*, const char*> bad[] = {
        {"--bogus", "unknown option '--bogus'"},
        {"-q", "unknown option '-q'"},
        {"--exit=now", "option '--exit' takes no value"}};
    for (const auto& [arg, message] : bad) {
        result = RunProcess({MORIX_BINARY, arg, "/a.txt"});
        EXPECT_EQ(result.exitCode, 2) << arg;
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    }
}

}  // namespace
}  // namespace morix::testing
