// menu_commands.h - the commands of the menu bar and the About panel's dialog procedure.
// runMenuCommand (declared in app_window.h) runs one command by id; the two open commands
// only choose a file and raise a request that the next frame's update serves.
//
// Threads: main thread, inside message dispatch.
#pragma once

#include "platform/win_api.h"

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
