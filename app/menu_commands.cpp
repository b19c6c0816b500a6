// The menu commands: open a rhythm or playlist, exit, show or hide the notation, the sound
// delay, the practice session and its log, the Help's pages in the browser, and the About
// panel.
#include "app/menu_commands.h"

#include <cstring>
#include <filesystem>
#include <string>

#include "app/app_window.h"
#include "app/listening_commands.h"
#include "app/main_loop.h"
#include "app/resource_ids.h"
#include "app/user_settings.h"
#include "tutor/tutor_app.h"

namespace {

// Shows the open-file dialog for one kind of file. Playback pauses while the learner
// chooses (or resumes, if it was paused); a cancel starts it again.
void chooseFile(LoadKind kind, const char* filter, const char* title,
                const char* defaultExtension) {
    if (tutorApp) tutorApp->togglePause();
    char chosen[selectedPathSize] = {};
    OPENFILENAMEA ofn;
    std::memset(&ofn, 0, sizeof ofn);
    // The whole record: a 64-bit dialog refuses the size of the 32-bit one.
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = appWindow.window;
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = chosen;
    ofn.nMaxFile = sizeof chosen;
    ofn.lpstrInitialDir = "rhythms";
    ofn.lpstrTitle = title;
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    ofn.lpstrDefExt = defaultExtension;
    if (GetOpenFileNameA(&ofn)) {
        if (tutorApp) tutorApp->requestLoad(kind, chosen);
    } else if (tutorApp) {
        tutorApp->start();
    }
}

// Opens the Help's index page (Help/index.html in the data folder, which is current) in the
// user's browser; where nothing opens it, a box says where the Help folder is.
void openHelp() {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::absolute("Help", error);
    const std::string index = (folder / "index.html").string();
    const HINSTANCE opened =
        ShellExecuteA(appWindow.window, "open", index.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(opened) > 32) return;
    const std::string text =
        "For more detailed help, please see the help files in the Tabladex's Help directory:\n" +
        folder.string();
    MessageBoxA(appWindow.window, text.c_str(), "Tabladex Help", MB_OK);
}

// Filter lists: description and pattern pairs, closed by one more zero byte.
const char rhythmFilter[] = "Brenmoor Rhythm File\0*.krf\0Text File\0*.txt\0";
const char playlistFilter[] = "Rhythm Playlist\0*.krp\0Text File\0*.txt\0";

}  // namespace

void runMenuCommand(int commandId) {
    switch (commandId) {
        case ID_FILE_OPENRHYTHM:
            chooseFile(LoadKind::Rhythm, rhythmFilter, "Open Rhythm File", "krf");
            break;
        case ID_FILE_OPENPLAYLIST:
            chooseFile(LoadKind::Playlist, playlistFilter, "Open Rhythm Playlist", "krp");
            break;
        case ID_FILE_EXIT:
            SendMessageA(appWindow.window, WM_CLOSE, 0, 0);
            break;
        case ID_HELP_ABOUT:
            appWindow.aboutDialog = CreateDialogParamA(appWindow.instance,
                                                       MAKEINTRESOURCEA(IDD_ABOUT),
                                                       appWindow.window, aboutDialogProc, 0);
            ShowWindow(appWindow.aboutDialog, SW_SHOW);
            break;
        case ID_VIEW_SHOWHIDENOTES:
            if (tutorApp) tutorApp->showNotes = !tutorApp->showNotes;
            break;
        case ID_HELP_CONTENTS:
            openHelp();
            break;
        case ID_PRACTICE_LOG:
            showPracticeLog(practiceTracker, appWindow.window);
            break;
        default:
            if (tutorApp && !chooseSoundDelay(*tutorApp, appWindow.window, commandId))
                choosePractice(*tutorApp, appWindow.window, commandId);
            break;
    }
}

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_ABOUT_CLOSE) SendMessageA(dialog, WM_CLOSE, 0, 0);
            return TRUE;
        case WM_CLOSE:
        case WM_DESTROY:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            return FALSE;
    }
}
