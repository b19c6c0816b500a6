// Fuzz target: the whole tutor on the headless backend, driven by the input as a learner
// would drive it. Each input runs a tutor record of its own (the manual clock at 0, the
// offline audio output) and reads up to maxActions actions from its bytes: menu commands
// (the open-file dialog answers with one of the files written once into a scratch folder:
// good, refused and odd rhythms and playlists, a missing file, a folder, a FIFO, a path too
// long), clicks on the on-screen controls, presses, drags and releases of the left button
// anywhere on or off the window, keys, frames of any length with the screen composed and
// presented every time, playback on the manual clock, and blocks of the mixer rendered.
// Message boxes answer OK by themselves. After every action the playback thread is left to
// settle (asleep until a later step, or gone), so an input replays the same way as far as
// the threads allow. The input ends with the tutor's own shutdown, or earlier when an
// action closes the window.
//
// Threads: libFuzzer's thread is the tutor's main thread; the tutor starts and ends its
// playback thread itself. Ownership: the target owns the shared world below and the tutor
// record of the input it runs.
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/app_window.h"
#include "app/main_loop.h"
#include "app/menu_commands.h"
#include "app/resource_ids.h"
#include "platform/audio/audio.h"
#include "platform/headless/headless.h"
#include "platform/manual_clock.h"
#include "tests/support/test_support.h"
#include "tutor/tutor_app.h"

namespace {

namespace fs = std::filesystem;
using testing_support::writeFile;

constexpr int maxActions = 64;

// What the open-file dialog can answer: paths in the scratch folder, a few shipped files,
// and "" (the learner cancels).
std::vector<std::string> choices;
fs::path scratch;

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

void writeScratchFiles() {
    scratch = testing_support::makeTempFolder("tabladex-fuzz-tutor");
    const fs::path& s = scratch;
    // Rhythm files: playable ones, then every way of being refused or odd.
    writeFile(s / "steady.krf", "Steady\n120\n2\ndt-td-t-\n");
    writeFile(s / "fast.krf", "Fast Strokes\n300\n4\nD-T-K-S-P-dtk-\n");
    writeFile(s / "slow.krf", "Slow\n1\n1\nd-\n");
    writeFile(s / "long.krf", repeated("Long Title ", 6) + "\n250\n8\n" + repeated("dtkDTKPS-", 40) + "\n");
    writeFile(s / "above.krf", "Above The Track\n576\n3\nd-t\n");
    writeFile(s / "huge_tempo.krf", "Huge\n30000000\n2\ndt\n");
    writeFile(s / "negative.krf", "Negative\n-2147483648\n-5\ndt\n");
    writeFile(s / "crlf.krf", "\xEF\xBB\xBF" "Crlf Title\r\n90\r\n3\r\nd-tk-d\r\n");
    writeFile(s / "rests.krf", "Only Rests\n100\n2\n----xyz\n");
    writeFile(s / "one_line.krf", "Only A Title\n");
    writeFile(s / "tempo_zero.krf", "Zero\n0\n2\nd-t-\n");
    writeFile(s / "no_notation.krf", "Empty\n100\n2\n\n");
    writeFile(s / "empty.krf", "");
    writeFile(s / "binary.krf", std::string("\0\xff\x01\n\0\n9\0\n\x80\x81", 12));
    // Playlists: good, endless, huge counts, refused counts, missing and odd entries.
    writeFile(s / "lesson.krp", "steady.krf\n2\nfast.krf\n1\ncrlf.krf\n3\n");
    writeFile(s / "endless.krp", "steady.krf\n0\nfast.krf\n-5\n");
    writeFile(s / "huge_counts.krp", "fast.krf\n2147483647\nsteady.krf\n-2147483648\n");
    writeFile(s / "count_too_large.krp", "steady.krf\n99999999999\nfast.krf\n1\n");
    writeFile(s / "missing_entry.krp", "nothing_here.krf\n2\nsteady.krf\n1\n");
    writeFile(s / "bad_entries.krp", "one_line.krf\n1\ntempo_zero.krf\n1\nsteady.krf\n1\n");
    writeFile(s / "odd_lines.krp", "steady.krf\n2\nfast.krf\n");
    writeFile(s / "blank_end.krp", "steady.krf\n1\nslow.krf\n1\n\n\n");
    writeFile(s / "strange_paths.krp",
              "folder\n1\n../" + s.filename().string() + "/fifo.krf\n1\n/\n1\nlong.krf\n1\n");
    writeFile(s / "itself.krp", "itself.krp\n1\nlesson.krp\n1\n");
    writeFile(s / "one_line.krp", "steady.krf\n");
    writeFile(s / "empty.krp", "");
    writeFile(s / "many.krp", repeated("steady.krf\n1\nfast.krf\n1\n", 20));
    writeFile(s / "too_many.krp", repeated("steady.krf\n1\n", 1001));
    fs::create_directory(s / "folder");
    mkfifo((s / "fifo.krf").c_str(), 0600);

    for (const auto& file : fs::directory_iterator(s)) choices.push_back(file.path().string());
    std::sort(choices.begin(), choices.end());  // the same order in every run
    choices.push_back((s / "nothing_here.krp").string());
    choices.push_back(s.string() + "/" + repeated("x", 300) + ".krf");
    choices.push_back("rhythms/lesson_long_cycles.krp");
    choices.push_back("rhythms/maqsum.krf");
    choices.push_back("");
}

void removeScratchFiles() {
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
}

// The input's bytes, taken from the front; 0 once they run out.
struct Bytes {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool done() const { return at >= size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    int32_t signed16() {
        const uint8_t low = byte();
        return static_cast<int16_t>(low | byte() << 8);
    }
};

// Waits (real time, bounded) until the playback thread has taken in the clock and its
// requests: asleep until a time still to come, or gone.
void settle(TutorApp& app) {
    app.wakePlayback();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    const double now = app.stepTimer.seconds();
    while (app.threadRunning.load() && app.sleepingUntil.load() <= now) {
        if (std::chrono::steady_clock::now() > deadline) return;
        std::this_thread::yield();
    }
}

// Dispatches every queued message as the frame loop does; false once the quit arrives.
bool pumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) return false;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}

// One frame as the frame loop runs it (input snapshot, state, composition, present), but
// composed whether or not it shows anything new.
void runFrame(TutorApp& app, float seconds) {
    inputSnapshot.takeSnapshot();
    FrameInput input;
    input.leftButton = inputSnapshot.keyDown[VK_LBUTTON] != 0;
    input.cursor = inputSnapshot.cursorInClient(appWindow.window);
    app.updateState(seconds, input);
    settle(app);
    appWindow.clearBackBuffer();
    app.drawScreen(*appWindow.backBuffer);
    appWindow.present();
}

// Frame lengths: none, short, the frame rate's, the buttons' repeat interval, long, huge.
constexpr float frameLengths[] = {0.0f, 1e-4f, 1.0f / 45.0f, 0.2f, 0.5f, 3.0f, 1e4f, 1e9f};
// Manual-clock steps: none, within a step, about a step, whole passes, a stalled machine.
constexpr double clockSteps[] = {0.0, 0.001, 0.005, 0.03, 0.12, 0.5, 2.5, 70.0, 1e6};
constexpr int menuCommands[] = {ID_FILE_OPENRHYTHM, ID_FILE_OPENPLAYLIST, ID_VIEW_SHOWHIDENOTES,
                                ID_HELP_CONTENTS,   ID_HELP_ABOUT,        ID_FILE_EXIT,
                                40002,              ID_COMMAND_LAST + 1,
                                // The practice session: a count-in, speed trainers up and down,
                                // silent passes, hold and release, the log's panel.
                                ID_PRACTICE_COUNTIN_LAST, ID_PRACTICE_COUNTIN_FIRST, ID_PRACTICE_SPEED_FIRST + 2,
                                ID_PRACTICE_SPEED_LAST, ID_PRACTICE_SPEED_FIRST, ID_PRACTICE_RANGE_FIRST,
                                ID_PRACTICE_SILENT_FIRST + 2, ID_PRACTICE_SILENT_FIRST, ID_PRACTICE_HOLD,
                                ID_PRACTICE_LOG};

std::vector<HWND> aboutPanels;  // opened by the input that runs

// Runs one action; false when the window is gone and the input ends.
bool act(TutorApp& app, Bytes& in) {
    const HWND window = appWindow.window;
    switch (in.byte() % 10) {
        case 0: {  // a menu command, with the dialog's answer scripted for the open commands
            const int command = menuCommands[in.byte() % std::size(menuCommands)];
            if (command == ID_FILE_OPENRHYTHM || command == ID_FILE_OPENPLAYLIST)
                headless::answerNextOpenFile(choices[in.byte() % choices.size()]);
            headless::chooseMenuItem(window, command);
            if (!pumpMessages()) return false;
            // Each About command opens another panel; the world closes them all.
            if (command == ID_HELP_ABOUT && appWindow.aboutDialog) aboutPanels.push_back(appWindow.aboutDialog);
            break;
        }
        case 1: {  // a click on an on-screen control: press for a frame or more, release
            const SpriteRect& rect = app.controlRects[in.byte() % controlCount];
            headless::setCursorClient(window, (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
            headless::setLeftButton(true);
            runFrame(app, frameLengths[in.byte() % std::size(frameLengths)]);
            headless::setLeftButton(false);
            runFrame(app, 1.0f / 45.0f);
            break;
        }
        case 2: {  // the pointer moves anywhere on the screen (16-bit coordinates, as Windows
                   // packs them), the button up or down: presses, drags and releases
            const int32_t x = in.signed16();
            const int32_t y = in.signed16();
            headless::setCursorScreen(x, y);
            headless::setLeftButton(in.byte() & 1);
            break;
        }
        case 3: {  // the pointer moves near the window, where the controls are
            const int32_t x = in.byte() * 3 - 100;
            const int32_t y = in.byte() * 2 - 40;
            headless::setCursorClient(window, x, y);
            break;
        }
        case 4:
        case 5:  // frames
            for (int frames = in.byte() % 4 + 1; frames > 0; --frames)
                runFrame(app, frameLengths[in.byte() % std::size(frameLengths)]);
            break;
        case 6: {  // time passes for the playback thread
            platform::advanceManualClock(clockSteps[in.byte() % std::size(clockSteps)]);
            settle(app);
            break;
        }
        case 7: {  // the mixer renders a block of the offline output
            static float block[2 * 4096];
            audio::offlineRender(app.audioSystem, block, (in.byte() % 16 + 1) * 256);
            break;
        }
        case 8:  // a key
            headless::pressKey(window, in.byte());
            break;
        case 9:  // the About panel's Close button
            if (appWindow.aboutDialog) headless::clickDialogButton(appWindow.aboutDialog, IDC_ABOUT_CLOSE);
            break;
    }
    return pumpMessages() && IsWindow(window);
}

// The world the inputs share, made once and again after an input closed the window: the
// headless backend with the main window and its back buffer, and a started tutor that holds
// the thirteen images and the audio system with the four samples. Each input runs a tutor
// record of its own, constructed afresh, that borrows those images and audio objects for the
// input and gives them back at its end; start-up would otherwise cost most of an input's
// time, most of it in first touches of fresh pixel memory.
TutorApp* holder = nullptr;
fs::path startFolder;
fs::path targetFolder;

void swapSurfaces(Surface& a, Surface& b) {
    // A Surface is plain data over its device context and DIB section.
    std::swap(a.width, b.width);
    std::swap(a.height, b.height);
    std::swap(a.bytesPerPixel, b.bytesPerPixel);
    std::swap(a.stride, b.stride);
    std::swap(a.memoryDc, b.memoryDc);
    std::swap(a.pixels, b.pixels);
    std::swap(a.dibSection, b.dibSection);
    std::swap(a.previousBitmap, b.previousBitmap);
}

// Moves the images and audio objects from one record to the other (both ways the same).
void swapResources(TutorApp& a, TutorApp& b) {
    Surface* const from[] = {&a.background,   &a.slider,       &a.metronome,
                             &a.numbers,      &a.largeLetters, &a.smallLetters,
                             &a.rhythmNotes,  &a.banner,       &a.hiddenNotesBanner,
                             &a.pausedLabel,  &a.playingLabel, &a.stoppedLabel,
                             &a.playlistButtons};
    Surface* const to[] = {&b.background,   &b.slider,       &b.metronome,
                           &b.numbers,      &b.largeLetters, &b.smallLetters,
                           &b.rhythmNotes,  &b.banner,       &b.hiddenNotesBanner,
                           &b.pausedLabel,  &b.playingLabel, &b.stoppedLabel,
                           &b.playlistButtons};
    for (size_t i = 0; i < std::size(from); ++i) swapSurfaces(*from[i], *to[i]);
    std::swap(a.audioSystem, b.audioSystem);
    std::swap(a.masterGroup, b.masterGroup);
    std::swap(a.doumSlot, b.doumSlot);
    std::swap(a.halfTekSlot, b.halfTekSlot);
    std::swap(a.tekSlot, b.tekSlot);
    std::swap(a.slapSlot, b.slapSlot);
    std::swap(a.clickSlot, b.clickSlot);
    std::swap(a.accentClick, b.accentClick);
}

void startWorld() {
    testing_support::resetWorld();
    platform::useManualClock(true);
    if (!appWindow.create(GetModuleHandleA(nullptr), tutorWindowDesc())) std::abort();
    appWindow.setFrameRate(45);
    holder = new TutorApp();
    holder->window = appWindow.window;
    if (!holder->startUp()) std::abort();  // the shipped data always starts the tutor
}

void endWorld() {
    aboutPanels.clear();
    holder->shutDown();
    delete holder;
    holder = nullptr;
    testing_support::resetWorld();
}

// What an input may leave in the shared world, taken back: the About panel, queued
// messages, the pointer and button, the boxes' record, and voices still sounding.
void tidyWorld() {
    for (HWND panel : aboutPanels)
        if (IsWindow(panel)) DestroyWindow(panel);
    aboutPanels.clear();
    appWindow.aboutDialog = nullptr;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    headless::setLeftButton(false);
    headless::setCursorScreen(0, 0);
    inputSnapshot = InputSnapshot{};
    headless::clearMessageBoxes();
    headless::clearOpenFileRequests();
    static float block[2 * 4096];
    for (int i = 0; i < 8; ++i) audio::offlineRender(holder->audioSystem, block, 4096);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    startFolder = fs::current_path();
    targetFolder = testing_support::programFolder();
    writeScratchFiles();
    std::atexit(removeScratchFiles);
    // The Practice menu writes the learner's settings and reads the practice log: in the
    // scratch folder, never the user's own.
    setenv("XDG_CONFIG_HOME", scratch.c_str(), 1);
    setenv("XDG_STATE_HOME", scratch.c_str(), 1);
    audio::setDefaultOutput(audio::OutputKind::Offline);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The program's data lies beside the target, as beside the program; libFuzzer's own
    // paths stay relative to where it was started.
    fs::current_path(targetFolder);
    if (!holder) startWorld();
    platform::advanceManualClock(-platform::manualClockSeconds());
    TutorApp* app = new TutorApp();
    swapResources(*holder, *app);
    attachTutor(app);
    // What start-up does besides loading: the step timer, the group's volume, the layout.
    app->stepTimer.init();
    app->masterGroup->setVolume(app->volume.load());
    app->layoutControls();

    Bytes in{data, size};
    bool open = true;
    for (int action = 0; open && action < maxActions && !in.done(); ++action) open = act(*app, in);
    if (open) runFrame(*app, 1.0f / 45.0f);

    app->endPlaybackThread();
    swapResources(*app, *holder);
    app->shutDown();
    delete app;
    attachTutor(nullptr);
    // A window closed by the input ends the world; the next one is made at once, so an
    // input allocates about what it frees and libFuzzer's leak check stays quiet.
    if (!open) {
        endWorld();
        startWorld();
    }
    tidyWorld();
    fs::current_path(startFolder);
    return 0;
}
