// main_loop.h - the program: creates the window and the tutor, runs the message and frame
// loop until the window is closed, and shuts the tutor down. Returns the exit code: 0 after
// a normal end, 1 when the window or the tutor could not start.
//
// Threads: the main thread. Called once per process by the platform's entry point.
#pragma once

#include <string>

#include "app/app_window.h"
#include "tutor/tutor_app.h"
#include "platform/win_api.h"

int tabladexMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine,
                 int showCommand);

// The tutor's window: its title, style, 600 x 480 client area and menu bar.
WindowDesc tutorWindowDesc();

// Makes app the process's tutor: its message boxes belong to the main window, and
// destroying the window asks its playback to stop.
void attachTutor(TutorApp* app);

// The loop alone (used by tabladexMain and by tests that build the window themselves):
// messages first, then a frame whenever one is due, until WM_QUIT.
void runMainLoop();

// The folder that holds the program's data for a program in programFolder (which ends in a
// slash): programFolder itself when images/ lies there, else programFolder's
// ../share/tabladex/ when images/ lies there (an installed program), else empty.
std::string findDataFolder(const std::string& programFolder);

// Makes the data folder found beside the running program the current directory; when there
// is none the current directory stays.
void enterDataFolder();
