// Finding the data folder beside the program.
#include "cli/render/data_folder.h"

#include <filesystem>

std::string executableFolder() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !self.has_parent_path()) return {};
    return self.parent_path().string() + "/";
}

std::string sampleDataFolder(const std::string& programFolder) {
    if (programFolder.empty()) return {};
    for (const char* relative : {"", "../share/tabladex/"}) {
        const std::string folder = programFolder + relative;
        std::error_code error;
        if (std::filesystem::is_directory(folder + "soundFont", error)) return folder;
    }
    return {};
}
