// The main loop: messages before frames, the quit message, black frames, waiting instead of
// spinning, frames skipped when nothing changes, and the program's exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/app_window.h"
#include "app/main_loop.h"
#include "app/menu_commands.h"
#include "app/resource_ids.h"
#include "app/user_settings.h"
#include "store/practice_log.h"
#include "platform/audio/audio.h"
#include "platform/headless/headless.h"
#include "platform/manual_clock.h"
#include "tests/support/test_support.h"
#include "tests/support/tutor_fixture.h"

namespace {

using MainLoop = testing_support::TutorFixture;

TEST_F(MainLoop, AQuitWaitingBehindOtherMessagesEndsTheLoopBeforeAnyFrame) {
    for (int i = 0; i < 5; ++i) PostMessageA(appWindow.window, WM_KEYDOWN, 'A', 0);
    PostQuitMessage(0);
    PostMessageA(appWindow.window, WM_KEYDOWN, 'B', 0);
    Sleep(50);  // a frame is due by now
    runMainLoop();
    EXPECT_EQ(headless::presentedFrameCount(), 0);
}

TEST_F(MainLoop, EveryFrameStartsFromABlackBackBufferAndIsPresented) {
    appWindow.backBuffer->fill(255, 255, 255);
    int frames = 0;
    bool topRowsBlack = true;
    headless::onPresent([&](const headless::Frame& frame) {
        // The background is drawn from row 13 down: the rows above show the clear.
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < frame.width; ++x) topRowsBlack = topRowsBlack && frame.at(x, y) == 0;
        if (++frames == 3) PostQuitMessage(0);
        tutorApp->volume.store(0.25f * frames);  // each frame shows something new
    });
    runMainLoop();
    headless::onPresent(nullptr);
    EXPECT_EQ(frames, 3);
    EXPECT_TRUE(topRowsBlack);
    EXPECT_EQ(headless::lastFrame().width, 600);
    EXPECT_EQ(headless::lastFrame().height, 480 - headless::menuBarHeight);
    // Below row 13 the background shows.
    EXPECT_NE(headless::lastFrame().at(300, 100), 0u);
}

TEST_F(MainLoop, SleepsUntilTheNextFrameAndPresentsOnlyFramesThatChange) {
    platform::useManualClock(true);
    ASSERT_TRUE(appWindow.timer->init());
    std::vector<DWORD> timeouts;
    headless::onWait([&](DWORD milliseconds) {
        timeouts.push_back(milliseconds);
        if (timeouts.size() == 40) PostMessageA(appWindow.window, WM_PAINT, 0, 0);
        if (timeouts.size() == 80) tutorApp->volume.store(0.5f);
        if (timeouts.size() == 120) PostQuitMessage(0);
    });
    runMainLoop();
    headless::onWait(nullptr);
    // Between frames the loop only waited: a frame interval at first, then, with the tutor
    // stopped and nothing held, until input or a message would come.
    ASSERT_EQ(timeouts.size(), 120u);
    EXPECT_LE(timeouts.front(), 23u);
    for (DWORD timeout : timeouts) EXPECT_GE(timeout, 1u);
    EXPECT_EQ(timeouts.back(), 250u);
    EXPECT_GT(platform::manualClockSeconds(), 100 * 0.25) << "frames came due while it waited";
    // The first frame, the repaint the window asked for, and the changed volume.
    EXPECT_EQ(headless::presentedFrameCount(), 3);
}

// Whether a presented frame shows the metronome lamp lit: its whole flash image in place.
bool lampLit(const headless::Frame& frame, const Surface& metronome) {
    for (int y = 0; y < 150; ++y) {
        const uint8_t* row = metronome.rowShown(y);
        for (int x = 0; x < 150; ++x) {
            const uint32_t want = row[x * 4 + 2] << 16 | row[x * 4 + 1] << 8 | row[x * 4];
            if (frame.at(225 + x, 80 + y) != want) return false;
        }
    }
    return true;
}

TEST_F(MainLoop, TheLampAndTheMarkerShowEachStepWhenItIsHeardWhileUnchangedFramesAreSkipped) {
    // The real loop and playback thread on the manual clock: each wait of the loop is time
    // passing, which the thread takes in before the loop goes on. A flash lasts 6, 5, 4 or 3
    // frames by tempo, whatever else the screen shows meanwhile; it starts on a frame of its
    // own, made within a millisecond of the moment its beat is heard (the output's latency
    // after the beat is due), and the marker shows the steps heard by then and no more.
    platform::useManualClock(true);
    ASSERT_TRUE(appWindow.timer->init());
    ASSERT_TRUE(app->stepTimer.init());
    struct Case {
        int32_t tempo, subdivision, flashFrames;
        double deviceLatency;
    };
    for (const Case& c : {Case{45, 1, 6, 0.0}, Case{60, 1, 5, 0.0371}, Case{100, 2, 4, 0.0}, Case{150, 4, 3, 0.2},
                          Case{300, 1, 3, 0.0}}) {
        loadNotations({std::string(size_t(4 * c.subdivision), 'D')}, c.tempo, c.subdivision);
        audio::offlineSetDeviceLatency(app->audioSystem, c.deviceLatency);
        const double delay = audio::heardDelay(app->audioSystem);
        // The thread takes in the time that has passed: the first step at the start.
        const auto settle = [&] {
            app->wakePlayback();
            const double now = app->stepTimer.seconds();
            while (app->threadRunning.load() && app->sleepingUntil.load() <= now)
                std::this_thread::yield();
        };
        const double start = app->stepTimer.seconds(), stepTime = 60.0 / c.tempo / c.subdivision;
        app->start();
        settle();
        const int presentedBefore = headless::presentedFrameCount();
        // Six and a half beats heard: seven beats sound, the last flash ends before the quit.
        const double end = platform::manualClockSeconds() + 6.5 * 60.0 / c.tempo + delay;
        int waits = 0, flashes = 0, litSince = 0;
        bool lit = false;
        std::vector<int> litFrames;
        headless::onPresent([&](const headless::Frame& frame) {
            const double now = app->stepTimer.seconds();
            // Steps heard by now (none before the first is heard).
            const int32_t heard =
                std::max(0, static_cast<int32_t>(std::floor((now - start - delay + 1e-9) / stepTime)) + 1);
            EXPECT_EQ(app->shown.stepIndex, heard % (4 * c.subdivision)) << "at " << now - start;
            const bool on = lampLit(frame, app->metronome);
            if (on && !lit) {
                ++flashes, litSince = waits;
                const double beatHeard = start + (flashes - 1) * 60.0 / c.tempo + delay;
                EXPECT_GE(now, beatHeard - 1e-9) << "beat " << flashes;
                EXPECT_LE(now, beatHeard + 0.001 + 1e-9) << "beat " << flashes;
            }
            if (!on && lit) litFrames.push_back(waits - litSince);
            lit = on;
        });
        headless::onWait([&](DWORD) {
            ++waits;  // one wait a frame: the loop waits exactly until the next is due
            settle();
            if (platform::manualClockSeconds() >= end) PostQuitMessage(0);
        });
        runMainLoop();
        headless::onPresent(nullptr);
        headless::onWait(nullptr);
        app->stop();
        const std::string tempo = std::to_string(c.tempo) + " BPM";
        EXPECT_EQ(flashes, 7) << tempo;
        EXPECT_EQ(litFrames, std::vector<int>(7, c.flashFrames)) << tempo;
        EXPECT_FALSE(lit) << tempo;
        EXPECT_LT(headless::presentedFrameCount() - presentedBefore, waits / 2)
            << tempo << ": frames that show nothing new are skipped";
    }
}

// Also the learner's settings: read at start (a damaged file set aside, with a box), marked
// in the menus, and a Sound Delay and a Practice choice made in one run still there in the
// next.
TEST(Program, OpensTheFileNamedOnItsCommandLineInTheFirstFrameAndEndsWithEscape) {
    const std::filesystem::path folder = testing_support::makeTempFolder("program open");
    testing_support::writeFile(folder / "my rhythm.krf", "Saidi\n100\n2\nD-D-T-D-\n");
    testing_support::writeFile(folder / "lesson.txt", "my rhythm.krf\n2\nmy rhythm.krf\n1\n");
    const std::filesystem::path settings = folder / "tabladex" / "settings.conf";
    std::filesystem::create_directories(settings.parent_path());
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    // Quoted as Windows passes a path with blanks (the folder's name has one).
    const auto quoted = [&](const std::string& name) { return "\"" + (folder / name).string() + "\""; };
    struct Case {
        std::string commandLine, box, error;  // the box and what standard error says ("": none)
        int32_t entries;                      // loaded in the first frame
        std::string settingsFile = "";        // written before the run ("": as the last run left it)
        int delayMs = 0, chooseMs = 0;        // the Sound Delay at start; one chosen in the frame
        int countInBars = 0, silentIndex = 0; // Practice at start: count-in, Silent Passes' item
        int chooseSilent = -1;                // a Silent Passes item chosen in the frame
    };
    for (const Case& c : {Case{"", "", "", 0, "sound_delay_ms = 150\ncount_in_bars = 2\n", 150, 100, 2, 0, 2},
                          Case{quoted("my rhythm.krf") + " second.krf third.krf", "",
                               "the 2 other arguments are ignored", 1, "", 100, 0, 2, 2},
                          Case{quoted("lesson.txt"), "Your settings file was damaged. It was set aside as ", "", 2,
                               "sound_delay_ms = 150\n\x01\x02\n", 0},
                          Case{quoted("missing.krf"), "Error Reading File", "", 0},
                          Case{quoted(std::string(300, 'a')), "Error Reading File", "", 0}}) {
        testing_support::resetWorld();
        audio::setDefaultOutput(audio::OutputKind::Offline);
        if (!c.settingsFile.empty()) testing_support::writeFile(settings, c.settingsFile);
        int frames = 0;
        int32_t entries = -1;
        double delay = -1.0;
        UINT marked = 0, countInMarked = 0, silentMarked = 0;
        int32_t countIn = -1;
        headless::onPresent([&](const headless::Frame&) {
            if (++frames > 1) return;
            entries = tutorApp->rhythmLoaded ? tutorApp->entryCount : 0;
            delay = tutorApp->soundDelay.load();
            countIn = tutorApp->practice.countInBars.load();
            for (UINT id = ID_COMMAND_FIRST; id <= ID_COMMAND_LAST; ++id) {
                if (!(GetMenuState(GetMenu(appWindow.window), id, MF_BYCOMMAND) & MF_CHECKED)) continue;
                UINT* group = id <= ID_VIEW_SOUNDDELAY_LAST    ? &marked
                              : id <= ID_PRACTICE_COUNTIN_LAST ? &countInMarked
                              : id >= ID_PRACTICE_SILENT_FIRST && id <= ID_PRACTICE_SILENT_LAST ? &silentMarked
                                                                : nullptr;
                if (group) *group = id;
            }
            if (c.chooseSilent >= 0) runMenuCommand(ID_PRACTICE_SILENT_FIRST + c.chooseSilent);
            for (UINT id = ID_VIEW_SOUNDDELAY_FIRST; id <= ID_VIEW_SOUNDDELAY_LAST; ++id)
                if (c.chooseMs && soundDelayChoices[id - ID_VIEW_SOUNDDELAY_FIRST] == c.chooseMs)
                    runMenuCommand(static_cast<int>(id));
            headless::pressKey(appWindow.window, VK_ESCAPE);
        });
        testing::internal::CaptureStderr();
        std::vector<char> commandLine(c.commandLine.begin(), c.commandLine.end());
        commandLine.push_back('\0');
        int exitCode =
            tabladexMain(GetModuleHandleA(nullptr), nullptr, commandLine.data(), SW_SHOWNORMAL);
        const std::string error = testing::internal::GetCapturedStderr();
        headless::onPresent(nullptr);
        audio::setDefaultOutput(audio::OutputKind::Device);
        SCOPED_TRACE(c.commandLine);
        EXPECT_EQ(exitCode, 0);
        EXPECT_EQ(frames, 1);
        EXPECT_EQ(entries, c.entries);
        const auto& boxes = headless::messageBoxes();
        EXPECT_EQ(boxes.size(), c.box.empty() ? 0u : 1u);
        EXPECT_EQ(boxes.empty() ? "" : boxes[0].text.substr(0, c.box.size()) + (boxes[0].owner ? "" : ", no owner"),
                  c.box);
        EXPECT_TRUE(error.find(c.error) != std::string::npos && c.error.empty() == error.empty())
            << error;
        EXPECT_DOUBLE_EQ(delay, c.delayMs / 1000.0);
        const auto* choice = std::find(std::begin(soundDelayChoices), std::end(soundDelayChoices), c.delayMs);
        EXPECT_EQ(marked, ID_VIEW_SOUNDDELAY_FIRST + UINT(choice - soundDelayChoices)) << "the setting is marked";
        EXPECT_EQ(countIn, c.countInBars);
        EXPECT_EQ(countInMarked, UINT(ID_PRACTICE_COUNTIN_FIRST + c.countInBars));
        EXPECT_EQ(silentMarked, UINT(ID_PRACTICE_SILENT_FIRST + c.silentIndex));
        EXPECT_FALSE(IsWindow(appWindow.window));
        EXPECT_EQ(tutorApp, nullptr);
    }
    unsetenv("XDG_CONFIG_HOME");
    testing_support::resetWorld();
    std::filesystem::remove_all(folder);
}

}  // namespace

namespace {

// The practice log's record of what the screen showed heard: passes and the tempo range of
// the passes played whole at one tempo, the speed trainer's tempo coming with a pass's first
// step (in the same frame as the last step of the pass before, or a frame later), and a pass
// whose tempo was changed by hand left out of the range.
TEST(PracticeTracking, CountsPassesAndTheTempoOfEachWholePass) {
    const std::filesystem::path folder = testing_support::makeTempFolder("practice tracking");
    setenv("XDG_STATE_HOME", folder.c_str(), 1);
    platform::useManualClock(true);
    struct Frame {
        int32_t stepIndex, repeatsDone, tempo;
    };
    struct Case {
        std::vector<Frame> frames;
        int32_t passes, slowest, fastest;
    };
    const Case cases[] = {
        // 120, then the trainer's 130 with the next pass's first step a frame later; stopped
        // within the third pass (140), which does not count.
        {{{1, 0, 120}, {3, 0, 120}, {0, 1, 120}, {1, 1, 130}, {3, 1, 130}, {0, 2, 130}, {1, 2, 140}}, 2, 120, 130},
        // A hand change within the second pass leaves it out; the third counts.
        {{{1, 0, 100}, {0, 1, 100}, {1, 1, 100}, {2, 1, 90}, {0, 2, 90}, {2, 2, 90}, {0, 3, 90}}, 3, 90, 100},
        // Joined in the middle of a pass: it is not whole.
        {{{3, 0, 100}, {0, 1, 100}}, 1, 0, 0},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(folder / "tabladex" / "practice.log");
        TutorApp app;
        app.stepTimer.init();
        app.entries = makeEntries(1);
        app.entryCount = 1;
        app.entries[0].file = "quick.krf";
        app.entries[0].title = "Quick";
        app.entries[0].stepCount = 4;
        app.rhythmLoaded = true;
        app.shownState = Playing;
        PracticeTracker tracker;
        for (const Frame& frame : c.frames) {
            app.shown = ShownPosition{0, frame.stepIndex, frame.repeatsDone};
            app.tempo = frame.tempo;
            tracker.frame(app, nullptr);
            platform::advanceManualClock(0.5);
        }
        app.shownState = Stopped;
        tracker.frame(app, nullptr);  // a stop writes the record
        const PracticeLogRead read = readPracticeLog(practiceLogPath());
        ASSERT_EQ(read.records.size(), 1u);
        const PracticeRecord& record = read.records[0];
        EXPECT_EQ(record.file + " " + record.title, "quick.krf Quick");
        EXPECT_EQ(record.passes, c.passes);
        EXPECT_EQ(record.slowestTempo, c.slowest);
        EXPECT_EQ(record.fastestTempo, c.fastest);
        EXPECT_NEAR(record.minutes, 0.5 * (c.frames.size() - 1) / 60.0, 0.01);
        destroyEntries(app.entries);
        app.entries = nullptr;
    }
    platform::useManualClock(false);
    unsetenv("XDG_STATE_HOME");
    std::filesystem::remove_all(folder);
}

}  // namespace
