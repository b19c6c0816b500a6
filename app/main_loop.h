// main_loop.h - the program: creates the window and the tutor, runs the message and frame
// loop until the window is closed, and shuts the tutor down. Returns the exit code: 0 after
// a normal end, 1 when the window or the tutor could not start.
//
// Threads: the main thread. Called once per process by the platform's entry point.
#pragma once

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

// Makes the folder that holds the program's data the current directory: the program's own
// folder when images/ lies there, otherwise the current directory stays.
void enterDataFolder();
