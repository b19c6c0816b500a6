// main_loop.h - the program: creates the window and the tutor, runs the message and frame
// loop until the window is closed, and shuts the tutor down. Returns the exit code: 0 after
// a normal end, 1 when the window or the tutor could not start (standard error says why).
//
// Threads: the main thread. Called once per process by the platform's entry point.
#pragma once

#include <string>
#include <vector>

#include "app/app_window.h"
#include "app/practice_tracking.h"
#include "tutor/tutor_app.h"
#include "platform/win_api.h"

// commandLine is WinMain's (the arguments without the program's name): its first argument,
// a rhythm file or a playlist, is opened as File > Open would; further ones are ignored, and
// standard error says so.
int tabladexMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine,
                 int showCommand);

// The program with its arguments already split (the POSIX entry passes argv's).
int runTabladex(HINSTANCE instance, const std::vector<std::string>& arguments);

// A Windows command line's arguments: split at blanks outside double quotes, the quotes
// removed ("C:\My Rhythms\a.krf" is one argument).
std::vector<std::string> splitCommandLine(const char* commandLine);

// Starts app in the current folder (TutorApp::startUp). When no data folder lies beside
// programFolder, in its ../share/tabladex/ (see findDataFolder) or in the current folder,
// standard error first says where the data was looked for.
bool startTutor(TutorApp& app, const std::string& programFolder);

// The tutor's window: its title, style, 600 x 480 client area and menu bar.
WindowDesc tutorWindowDesc();

// Makes app the process's tutor: its message boxes belong to the main window, and
// destroying the window asks its playback to stop.
void attachTutor(TutorApp* app);

// The loop alone (used by tabladexMain and by tests that build the window themselves):
// messages first, then a frame whenever one is due, until WM_QUIT. Each frame's practice
// goes to practiceTracker.
void runMainLoop();

// What the learner practises in this run, for the practice log (main thread).
extern PracticeTracker practiceTracker;

// The folder that holds the program's data for a program in programFolder (which ends in a
// slash): programFolder itself when images/ lies there, else programFolder's
// ../share/tabladex/ when images/ lies there (an installed program), else empty.
std::string findDataFolder(const std::string& programFolder);

// The running program's folder, ending in a slash (empty when unknown).
std::string programFolder();

// Makes the data folder found beside the running program the current directory; when there
// is none the current directory stays. True when one was found.
bool enterDataFolder();
