// The program entry and its loop.
#include "app/main_loop.h"

#include <cstring>
#ifdef _WIN32
#include <mmsystem.h>
#endif
#include <new>
#include <string>

#include "app/app_window.h"
#include "app/resource_ids.h"
#include "tutor/tutor_app.h"

std::string findDataFolder(const std::string& programFolder) {
    // Beside the program (a build folder), then where an install puts the data relative to
    // bin/, whatever the prefix.
    for (const char* relative : {"", "../share/tabladex/"}) {
        std::string folder = programFolder + relative;
        DWORD attributes = GetFileAttributesA((folder + "images").c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return folder;
    }
    return {};
}

void enterDataFolder() {
    char path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    std::string folder(path, length);
    size_t slash = folder.find_last_of("/\\");
    if (slash == std::string::npos) return;
    folder = findDataFolder(folder.substr(0, slash + 1));
    if (!folder.empty()) SetCurrentDirectoryA(folder.c_str());
}

namespace {

// The frame's input as the tutor reads it: the left button and the cursor over the client
// area, from the snapshot taken when the frame became due.
FrameInput frameInput() {
    FrameInput input;
    input.leftButton = inputSnapshot.keyDown[VK_LBUTTON] != 0;
    input.cursor = inputSnapshot.cursorInClient(appWindow.window);
    return input;
}

}  // namespace

void attachTutor(TutorApp* app) {
    tutorApp = app;
    if (!app) return;
    app->window = appWindow.window;
    appWindow.onDestroy = [] {
        if (tutorApp) tutorApp->requestStop();
    };
}

namespace {

// How long the loop sleeps while the tutor is quiet (stopped or paused, nothing held or
// dragged): input and messages wake it at once, so this only bounds a wait for nothing.
constexpr DWORD quietWaitMilliseconds = 250;

}  // namespace

void runMainLoop() {
    MSG msg;
    ScreenKey shown;
    bool anyShown = false;
    bool quiet = false;
    for (;;) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) break;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            continue;
        }
        if (!appWindow.frameDue()) {
            // Nothing to do until a message or input arrives or the frame is due: sleep till
            // then, or while the tutor is quiet until something happens.
            MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                      quiet ? quietWaitMilliseconds : appWindow.millisecondsToFrame(),
                                      QS_ALLINPUT);
            continue;
        }
        // The frame's input and requests; then the screen, only when it shows something
        // new (or the window asked to be painted), so a quiet tutor costs nothing.
        const FrameInput input = frameInput();
        tutorApp->updateState(appWindow.frameTime, input);
        quiet = !input.leftButton && tutorApp->quiet();
        const ScreenKey key = tutorApp->screenKey();
        if (anyShown && key == shown && !appWindow.repaintNeeded) continue;
        appWindow.clearBackBuffer();
        tutorApp->drawScreen(*appWindow.backBuffer);
        appWindow.present();
        shown = key;
        anyShown = true;
        appWindow.repaintNeeded = false;
    }
}

WindowDesc tutorWindowDesc() {
    WindowDesc description;
    description.title = "Viri Brenmoor Tabladex - BETA v.92";
    description.style = WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU;
    description.exStyle = WS_EX_APPWINDOW;
    description.width = 600;
    description.height = 480;
    description.menuId = IDR_MAINMENU;
    return description;
}

int tabladexMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
#ifdef _WIN32
    // Waits and sleeps to the millisecond, not to the default 15.6 ms tick: the frame loop
    // and the playback thread both sleep until a due time.
    timeBeginPeriod(1);
#endif
    enterDataFolder();
    if (!appWindow.create(instance, tutorWindowDesc())) return 1;
    appWindow.setFrameRate(45);

    TutorApp* app = new (std::nothrow) TutorApp();
    if (!app) return 1;
    attachTutor(app);
    if (!app->startUp()) return 1;

    runMainLoop();

    if (tutorApp) {
        tutorApp->shutDown();
        delete tutorApp;
        tutorApp = nullptr;
    }
    return 0;
}
