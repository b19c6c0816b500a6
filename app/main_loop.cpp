// The program entry and its loop.
#include "app/main_loop.h"

#include <cmath>

#include <cstdio>
#include <cstring>
#include <filesystem>
#ifdef _WIN32
#include <mmsystem.h>
#endif
#include <new>
#include <string>

#include "app/app_window.h"
#include "app/listening_commands.h"
#include "app/resource_ids.h"
#include "app/user_settings.h"
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

std::string programFolder() {
    char path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return {};
    std::string folder(path, length);
    size_t slash = folder.find_last_of("/\\");
    if (slash == std::string::npos) return {};
    return folder.substr(0, slash + 1);
}

bool enterDataFolder() {
    const std::string program = programFolder();
    const std::string folder = program.empty() ? std::string() : findDataFolder(program);
    if (folder.empty()) return false;
    SetCurrentDirectoryA(folder.c_str());
    return true;
}

std::vector<std::string> splitCommandLine(const char* commandLine) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false, quoted = false;
    for (const char* at = commandLine ? commandLine : ""; *at; ++at) {
        if (*at == '"') {
            quoted = !quoted;
            inArgument = true;
        } else if ((*at == ' ' || *at == '\t') && !quoted) {
            if (inArgument) arguments.push_back(current);
            current.clear();
            inArgument = false;
        } else {
            current += *at;
            inArgument = true;
        }
    }
    if (inArgument) arguments.push_back(current);
    return arguments;
}

namespace {

// A line for whoever started the program: standard error, and on Windows, where a window
// program has no console, the debugger's output too.
void report(const std::string& line) {
    std::fprintf(stderr, "tabladex: %s\n", line.c_str());
#ifdef _WIN32
    OutputDebugStringA(("tabladex: " + line + "\n").c_str());
#endif
}

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

PracticeTracker practiceTracker;

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
            // A message may change what shows (a wheel turn, a menu choice): the next wait
            // is for the next frame, not the quiet tutor's long one.
            quiet = false;
            continue;
        }
        // A step about to be heard is shown by a frame of its own, made when the sound
        // comes out rather than at the next frame of the grid; the grid starts again there.
        const double untilHeard = tutorApp->secondsUntilHeard();
        if (!appWindow.frameDue(untilHeard <= 0.0)) {
            // Nothing to do until a message or input arrives, a step is heard or the frame is
            // due: sleep till then, or while the tutor is quiet until something happens.
            DWORD wait = quiet ? quietWaitMilliseconds : appWindow.millisecondsToFrame();
            if (untilHeard < wait / 1000.0) wait = static_cast<DWORD>(std::ceil(untilHeard * 1000.0));
            MsgWaitForMultipleObjects(0, nullptr, FALSE, wait < 1 ? 1 : wait, QS_ALLINPUT);
            continue;
        }
        // The frame's input and requests; then the screen, only when it shows something
        // new (or the window asked to be painted), so a quiet tutor costs nothing.
        const FrameInput input = frameInput();
        tutorApp->updateState(appWindow.frameTime, input);
        practiceTracker.frame(*tutorApp, appWindow.window);
        serveListening(*tutorApp, appWindow.window);
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

bool startTutor(TutorApp& app, const std::string& programFolder) {
    // Missing data as the reason: none beside the program or installed, and none in the
    // current folder, where the program then looks. Said before the boxes, which wait for
    // the learner.
    const auto absent = [](const char* folder) {
        return GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES;
    };
    if (findDataFolder(programFolder).empty() && absent("images") && absent("soundFont")) {
        std::error_code error;
        const std::string current = std::filesystem::current_path(error).string();
        report("the data folders (images, soundFont, rhythms, Help) were not found beside the "
               "program (" + programFolder + "), in " + programFolder +
               "../share/tabladex/ or in the current folder (" + current + ")");
    }
    return app.startUp();
}

int tabladexMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    return runTabladex(instance, splitCommandLine(commandLine));
}

int runTabladex(HINSTANCE instance, const std::vector<std::string>& arguments) {
#ifdef _WIN32
    // Waits and sleeps to the millisecond, not to the default 15.6 ms tick: the frame loop
    // and the playback thread both sleep until a due time.
    timeBeginPeriod(1);
#endif
    if (arguments.size() > 1)
        report("only " + arguments[0] + " is opened; the " +
               std::to_string(arguments.size() - 1) + " other argument" +
               (arguments.size() > 2 ? "s are" : " is") + " ignored");
    // A relative path names a file in the folder the program was started from, which
    // entering the data folder leaves.
    std::string opened;
    if (!arguments.empty()) {
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(arguments[0], error);
        opened = error ? arguments[0] : absolute.string();
    }
    enterDataFolder();
    if (!appWindow.create(instance, tutorWindowDesc())) {
        report("the main window could not be created");
        return 1;
    }
    appWindow.setFrameRate(45);

    TutorApp* app = new (std::nothrow) TutorApp();
    if (!app) return 1;
    attachTutor(app);
    if (!startTutor(*app, programFolder())) return 1;
    applyUserSettings(*app, appWindow.window);
    checkPracticeLog(appWindow.window);
    loadStrokeCalibration(*app, appWindow.window);
    // Served by the first frame, as a file chosen with File > Open is.
    if (!opened.empty()) app->openFile(opened.c_str());

    runMainLoop();
    practiceTracker.flush(nullptr);  // the window is gone; a box of its own

    if (tutorApp) {
        tutorApp->shutDown();
        delete tutorApp;
        tutorApp = nullptr;
    }
    return 0;
}
