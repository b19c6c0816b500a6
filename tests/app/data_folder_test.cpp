// Where the program finds its data: beside itself (a build folder), else in
// ../share/tabladex/ (an installed program), else nowhere, and entering the folder found.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/main_loop.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(DataFolder, BesideTheProgramFirstThenTheInstalledShareFolder) {
    const fs::path root = testing_support::makeTempFolder("tabladex_data_folder");
    const std::string bin = (root / "bin").string() + "/";
    fs::create_directories(root / "bin");
    EXPECT_EQ(findDataFolder(bin), "");

    fs::create_directories(root / "share/tabladex/images");
    EXPECT_EQ(findDataFolder(bin), bin + "../share/tabladex/");
    EXPECT_TRUE(fs::is_directory(findDataFolder(bin) + "images"));

    // A plain file named images is not a data folder.
    testing_support::writeFile(root / "bin/images", "");
    EXPECT_EQ(findDataFolder(bin), bin + "../share/tabladex/");

    fs::remove(root / "bin/images");
    fs::create_directories(root / "bin/images");
    EXPECT_EQ(findDataFolder(bin), bin);
    fs::remove_all(root);
}

TEST(DataFolder, EnteringItFromElsewhereMakesTheProgramsFolderCurrent) {
    const fs::path before = fs::current_path();
    fs::current_path(fs::temp_directory_path());
    enterDataFolder();  // the build copies the data beside the test program
    const fs::path entered = fs::current_path();
    fs::current_path(before);
    EXPECT_TRUE(fs::equivalent(entered, testing_support::programFolder()));
}

}  // namespace
