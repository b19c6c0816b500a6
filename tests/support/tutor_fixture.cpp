#include "tests/support/tutor_fixture.h"

#include <filesystem>

#include "app/app_window.h"
#include "app/main_loop.h"
#include "platform/audio/audio.h"
#include "tests/support/test_support.h"

namespace testing_support {

void TutorFixture::SetUp() {
    resetWorld();
    std::filesystem::current_path(programFolder());
    audio::setDefaultOutput(audio::OutputKind::Offline);
    ASSERT_TRUE(appWindow.create(GetModuleHandleA(nullptr), tutorWindowDesc()));
    appWindow.setFrameRate(45);
    app = new TutorApp();
    tutorApp = app;
    app->window = appWindow.window;
    ASSERT_TRUE(app->startUp()) << "the shipped data must start the tutor";
}

void TutorFixture::runFrame(float seconds) {
    app->update(seconds, FrameInput{}, *appWindow.backBuffer);
}

void TutorFixture::TearDown() {
    if (app) {
        app->shutDown();
        delete app;
    }
    app = nullptr;
    tutorApp = nullptr;
    audio::setDefaultOutput(audio::OutputKind::Device);
    resetWorld();
}

void TutorFixture::loadNotations(const std::vector<std::string>& notations, int32_t tempo,
                                 int32_t subdivision, const std::vector<int32_t>& repeatCounts) {
    destroyEntries(app->entries);
    const int32_t count = static_cast<int32_t>(notations.size());
    app->entries = makeEntries(count);
    app->entryCount = count;
    for (int32_t i = 0; i < count; ++i) {
        RhythmEntry& entry = app->entries[i];
        entry.title = "Entry " + std::string(1, static_cast<char>('A' + i));
        entry.tempo = tempo;
        entry.subdivision = subdivision;
        app->parseNotation(notations[i].c_str(), 20, 20, 28, 8, app->rhythmNotes, &entry);
        entry.stepTime.store(60.0 / tempo / subdivision);
        entry.repeatCount = i < static_cast<int32_t>(repeatCounts.size()) ? repeatCounts[i] : 0;
    }
    app->currentEntry = 0;
    app->tempo = tempo;
    app->rhythmLoaded = true;
}

}  // namespace testing_support
