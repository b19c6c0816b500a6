// data_folder.h - where the renderer finds the tutor's drum samples: beside its own
// executable (a build folder), else in ../share/tabladex/ beside it (an installed program),
// as the tutor finds its data.
//
// Threads: any. Ownership: plain strings.
#pragma once

#include <string>

// The folder of the running executable, ending in a slash; empty when unknown.
std::string executableFolder();

// The data folder for a program in programFolder (ending in a slash): the first of
// programFolder and programFolder + "../share/tabladex/" that holds soundFont/; empty when
// neither does.
std::string sampleDataFolder(const std::string& programFolder);
