// The settings file: what a learner's file reads as, a damaged one set aside (never over an
// earlier one), a write keeping what it does not know, and a failed one keeping the old file.
#include "store/settings.h"

#include "store/practice_log.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;
namespace {

std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void put(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("tabladex-settings-" + std::to_string(std::random_device{}()));
        fs::create_directories(folder);
        path = (folder / "settings.conf").string();
    }
    void TearDown() override { fs::remove_all(folder); }
    size_t entries() const { return size_t(std::distance(fs::directory_iterator(folder), {})); }
    fs::path folder;
    std::string path;
};

TEST_F(SettingsFile, ReadsALearnersFileAndSetsADamagedOneAsideUnderANewNameEachTime) {
    EXPECT_EQ(readSettings(path).message, "");  // missing: not damage
    const struct {
        std::string bytes;
        int32_t soundDelayMs;
        bool damaged;
    } cases[] = {
        {"# Tabladex settings\n\n  # a note\n  sound_delay_ms = 120  \n", 120, false},
        {"\xEF\xBB\xBFsound_delay_ms=+300\r\n", 300, false},
        {"sound_delay_ms = 5\nfrom.a-newer_version = on, twice\nsound_delay_ms = -50", -50, false},
        {"hello world\n", 0, true},
        {std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), 0, true},
        {"sound_delay_ms = 301\n", 0, true},
        {"sound_delay_ms = 40 # ms\n", 0, true},
        {"sound_delay_ms = 7\n# " + std::string(maxSettingsBytes, '.') + "\n", 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 40));
        put(path, c.bytes);
        const SettingsRead first = readSettings(path);
        EXPECT_EQ(first.settings.soundDelayMs, c.soundDelayMs);
        if (!c.damaged) {
            EXPECT_EQ(first.message + first.setAsidePath, "");
            EXPECT_EQ(slurp(path), c.bytes);
            continue;
        }
        EXPECT_NE(first.message.find(" set aside as " + first.setAsidePath), first.message.npos)
            << first.message;
        EXPECT_EQ(first.setAsidePath.rfind(path + ".damaged-", 0), 0u) << first.setAsidePath;
        EXPECT_FALSE(fs::exists(path));
        put(path, "again");
        const SettingsRead second = readSettings(path);
        EXPECT_NE(second.setAsidePath, first.setAsidePath);
        EXPECT_EQ(slurp(first.setAsidePath), c.bytes);
        EXPECT_EQ(slurp(second.setAsidePath), "again");
    }
}

TEST_F(SettingsFile, WritesWhatReadsBackAndKeepsWhatThisVersionDoesNotKnow) {
    const std::string nested = (folder / "new" / "settings.conf").string();
    std::string error;
    for (const int32_t delay : {-50, 0, 300}) {
        ASSERT_TRUE(writeSettings(nested, Settings{delay}, error)) << error;
        EXPECT_EQ(readSettings(nested).settings.soundDelayMs, delay);
    }
    put(path, "# Tabladex settings\n# mine\nsound_delay_ms = 1\nnewer = on, twice\nsound_delay_ms = 9\n");
    ASSERT_TRUE(writeSettings(path, Settings{40}, error)) << error;
    // The settings the old file lacked follow, each with its note.
    EXPECT_EQ(slurp(path).rfind("# Tabladex settings\n# mine\nnewer = on, twice\nsound_delay_ms = 40\n"
                                "# count_in_bars: bars of clicks before the first stroke after Play (0 to 2)\n"
                                "count_in_bars = 0\n",
                                0),
              0u);
    EXPECT_EQ(entries(), 2u);  // new/ and settings.conf: no temporary file left
}

TEST_F(SettingsFile, AFailedWriteSaysWhereAndWhyAndLeavesTheOldFile) {
    const std::string old = "sound_delay_ms = 10\nnewer = 1\n";
    put(path, old);
    std::string error;
    EXPECT_FALSE(writeSettings((fs::path(path) / "settings.conf").string(), Settings{20}, error));
    EXPECT_EQ(error.find("Could not make the folder " + path + " for the settings: "), 0u) << error;
    const fs::path taken = folder / "taken";
    fs::create_directories(taken / "inside");  // replacing a folder fails after the write
    EXPECT_FALSE(writeSettings(taken.string(), Settings{20}, error));
    EXPECT_EQ(error.find("Could not save the settings to " + taken.string() + ": "), 0u) << error;
#ifndef _WIN32
    // A disk that fills up: no file may grow past 8 bytes.
    rlimit saved{}, small{};
    getrlimit(RLIMIT_FSIZE, &saved);
    small = {8, saved.rlim_max};
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const bool wrote = writeSettings(path, Settings{20}, error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    EXPECT_FALSE(wrote);
    EXPECT_EQ(error, "Could not save the settings to " + path + ": File too large.");
#endif
    EXPECT_EQ(slurp(path), old);
    EXPECT_EQ(entries(), 2u);
}

void setVariable(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    value ? setenv(name, value, 1) : unsetenv(name);
#endif
}

// The settings and the practice log: where the platform keeps a user's configuration and state.
TEST(UserFilePaths, FollowTheUsersConfigurationAndStateFolders) {
#ifdef _WIN32
    const char* names[] = {"APPDATA", "APPDATA", "HOME"};
    const char* rows[][5] = {{"C:\\ana", "C:\\ana", "", "C:\\ana\\Tabladex\\settings.conf",
                              "C:\\ana\\Tabladex\\practice.log"},
                             {nullptr, nullptr, "C:\\ana", "", ""}};
#else
    const char* names[] = {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "HOME"};
    const char* rows[][5] = {{"/srv/conf", "/srv/state", "/home/ana", "/srv/conf/tabladex/settings.conf",
                              "/srv/state/tabladex/practice.log"},
                             {nullptr, nullptr, "/home/ana", "/home/ana/.config/tabladex/settings.conf",
                              "/home/ana/.local/state/tabladex/practice.log"},
                             {"relative/conf", "relative/state", "/home/ana", "/home/ana/.config/tabladex/settings.conf",
                              "/home/ana/.local/state/tabladex/practice.log"},
                             {"", "", "", "", ""}};
#endif
    std::optional<std::string> saved[3];
    for (int i = 0; i < 3; ++i)
        if (const char* value = std::getenv(names[i])) saved[i] = value;
    for (const auto& row : rows) {
        for (int i = 0; i < 3; ++i) setVariable(names[i], row[i]);
        EXPECT_EQ(settingsPath(), row[3]) << (row[0] ? row[0] : "(unset)");
        EXPECT_EQ(practiceLogPath(), row[4]) << (row[1] ? row[1] : "(unset)");
    }
    for (int i = 0; i < 3; ++i) setVariable(names[i], saved[i] ? saved[i]->c_str() : nullptr);
}

}  // namespace
