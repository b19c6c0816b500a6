// menu_commands.h - the commands of the menu bar and the About panel's dialog procedure.
// runMenuCommand runs one command by id; the two open commands only choose a file and ask
// the tutor to load it in the next frame; Help Contents opens the Help in the browser.
//
// Threads: main thread, inside message dispatch.
#pragma once

#include "platform/win_api.h"

// Runs the command of a menu item (ids 40001 to 40031); ids without a command do nothing.
void runMenuCommand(int commandId);

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
