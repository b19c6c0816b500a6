// The frame gate: when a frame is due and what time it reports.
#include <gtest/gtest.h>

#include "app/app_window.h"
#include "app/main_loop.h"
#include "platform/manual_clock.h"
#include "platform/headless/headless.h"
#include "tests/support/test_support.h"

namespace {

class FrameGate : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::resetWorld();
        platform::useManualClock(true);
        ASSERT_TRUE(appWindow.create(GetModuleHandleA(nullptr), tutorWindowDesc()));
    }
    void TearDown() override { testing_support::resetWorld(); }
};

TEST_F(FrameGate, IntervalsFromCreateAndFromSetFrameRate) {
    EXPECT_EQ(appWindow.frameInterval, 0.016666668f);
    appWindow.setFrameRate(45);
    EXPECT_EQ(appWindow.frameInterval, 0.022222223f);
    EXPECT_FLOAT_EQ(appWindow.frameInterval, 1.0f / 45.0f);
}

TEST_F(FrameGate, AccumulatorEqualToIntervalIsNotYetDue) {
    appWindow.frameInterval = 0.25f;
    platform::advanceManualClock(0.25);
    EXPECT_FALSE(appWindow.frameDue());
    EXPECT_EQ(frameAccumulator, 0.25f);
    platform::advanceManualClock(0.001);
    EXPECT_TRUE(appWindow.frameDue());
    EXPECT_FLOAT_EQ(appWindow.frameTime, 0.251f);
    EXPECT_EQ(frameAccumulator, 0.0f);
}

TEST_F(FrameGate, FrameTimeIsTheWholeAccumulatedTimeAndExcessIsDropped) {
    appWindow.frameInterval = 0.25f;
    platform::advanceManualClock(0.1);
    EXPECT_FALSE(appWindow.frameDue());
    platform::advanceManualClock(0.1);
    EXPECT_FALSE(appWindow.frameDue());
    platform::advanceManualClock(0.2);
    EXPECT_TRUE(appWindow.frameDue());
    EXPECT_NEAR(appWindow.frameTime, 0.4f, 1e-6);
    // Nothing of the 0.15 s excess is carried into the next frame.
    platform::advanceManualClock(0.2);
    EXPECT_FALSE(appWindow.frameDue());
}

TEST_F(FrameGate, FirstFrameMeasuresFromTheTimerStartedInCreate) {
    appWindow.setFrameRate(45);
    platform::advanceManualClock(1.5);  // e.g. the tutor's start-up
    EXPECT_TRUE(appWindow.frameDue());
    EXPECT_NEAR(appWindow.frameTime, 1.5f, 1e-6);
}

TEST_F(FrameGate, DueFrameTakesTheInputSnapshot) {
    appWindow.frameInterval = 0.01f;
    headless::setLeftButton(true);
    headless::setCursorClient(appWindow.window, 12, 240);
    EXPECT_FALSE(appWindow.frameDue());
    EXPECT_EQ(inputSnapshot.keyDown[VK_LBUTTON], 0) << "no snapshot before a due frame";
    platform::advanceManualClock(0.02);
    ASSERT_TRUE(appWindow.frameDue());
    EXPECT_EQ(inputSnapshot.keyDown[VK_LBUTTON], 1);
    EXPECT_EQ(inputSnapshot.keyDown[VK_ESCAPE], 0);
    POINT client = inputSnapshot.cursorInClient(appWindow.window);
    EXPECT_EQ(client.x, 12);
    EXPECT_EQ(client.y, 240);
    // A cursor left of and above the client area gives negative client coordinates.
    headless::setCursorScreen(headless::clientOriginX - 5, headless::clientOriginY - 7);
    platform::advanceManualClock(0.02);
    ASSERT_TRUE(appWindow.frameDue());
    client = inputSnapshot.cursorInClient(appWindow.window);
    EXPECT_EQ(client.x, -5);
    EXPECT_EQ(client.y, -7);
}

}  // namespace
