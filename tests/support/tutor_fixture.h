// tutor_fixture.h - a started tutor for tests: the main window on the headless backend and a
// TutorApp started up with the shipped data, its audio on the offline output (so nothing
// plays and nothing depends on a sound card), plus entries built in memory.
//
// Threads: the test's thread (playback threads are started by the tutor itself).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tutor/tutor_app.h"

namespace testing_support {

class TutorFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Replaces the entries with one entry per notation, each playable: the given tempo and
    // subdivision, steps sounding the tutor's slots by letter (d D doum, t k T K tek, P half
    // tek, S slap, anything else a rest). Marks the rhythm loaded.
    void loadNotations(const std::vector<std::string>& notations, int32_t tempo,
                       int32_t subdivision, const std::vector<int32_t>& repeatCounts = {});

    // One frame of the tutor's work, as the frame loop runs it, with the button up.
    void runFrame(float seconds = 1.0f / 45.0f);

    TutorApp* app = nullptr;
};

}  // namespace testing_support
