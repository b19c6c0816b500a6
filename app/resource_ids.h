// resource_ids.h - ids of the program's resources and commands, shared by the resource
// script (Windows), the resource tables (elsewhere) and the code. Plain #defines so that the
// resource compiler can read them too.
#pragma once

#define IDR_MAINMENU 101
#define IDD_ABOUT 102
#define IDI_APP 107
#define IDI_APP_SMALL 108

#define ID_FILE_OPENRHYTHM 40001
#define ID_FILE_EXIT 40003
#define ID_HELP_ABOUT 40004
#define ID_VIEW_SHOWHIDENOTES 40007
#define ID_FILE_OPENPLAYLIST 40008
#define ID_HELP_CONTENTS 40011
// View > Sound Delay: one command per choice (app/user_settings.h), -50 ms to +300 ms.
#define ID_VIEW_SOUNDDELAY_FIRST 40021
#define ID_VIEW_SOUNDDELAY_LAST 40031
// Practice: one command per choice (app/user_settings.h), each group a radio group.
#define ID_PRACTICE_COUNTIN_FIRST 40041
#define ID_PRACTICE_COUNTIN_LAST 40043
#define ID_PRACTICE_SPEED_FIRST 40051
#define ID_PRACTICE_SPEED_LAST 40057
#define ID_PRACTICE_RANGE_FIRST 40061
#define ID_PRACTICE_RANGE_LAST 40065
#define ID_PRACTICE_SILENT_FIRST 40071
#define ID_PRACTICE_SILENT_LAST 40075
#define ID_PRACTICE_HOLD 40081
#define ID_PRACTICE_LOG 40082
#define ID_PRACTICE_LISTEN 40091
#define ID_PRACTICE_CALLANSWER 40092
#define ID_PRACTICE_HEADPHONES 40093
#define ID_PRACTICE_TOLERANCE_FIRST 40094
#define ID_PRACTICE_TOLERANCE_LAST 40096
#define ID_PRACTICE_CALIBRATE 40097
#define ID_PRACTICE_MEASUREDELAY 40098
#define ID_COMMAND_FIRST 40001
#define ID_COMMAND_LAST 40082

#define IDC_ABOUT_CLOSE 1003

// The About panel's frame: position and size in dialog units, caption and font.
#define ABOUT_X 0
#define ABOUT_Y 0
#define ABOUT_WIDTH 278
#define ABOUT_HEIGHT 176
#define ABOUT_CAPTION "About the Tabladex"
#define ABOUT_FONT_NAME "MS Shell Dlg"
#define ABOUT_FONT_POINTS 8
