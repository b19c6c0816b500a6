// listening_commands.h - the listening tutor in the running program: the learner's stroke
// calibration read at start and written when the learner calibrates, the two checks the
// Listening menu starts (Calibrate My Strokes, Measure the Sound Delay) and the boxes that
// report them, and every scored pass written to the practice log.
//
// The calibration file: calibrationPath() - $XDG_CONFIG_HOME/tabladex/strokes.cal (else
// ~/.config/tabladex/strokes.cal) on Linux, %APPDATA%\Tabladex\strokes.cal on Windows, in
// the text format of listen/stroke_calibration.h, written whole or not at all. Until the
// learner calibrates, the tutor uses soundFont/default.cal, made from its own samples. A
// damaged file is set aside, a box says so, and the default is used.
//
// Threads: main thread (menu commands inside dispatch, serveListening once a frame).
// Ownership: the tutor's record stays the caller's.
#pragma once

#include <string>

#include "platform/win_api.h"

class TutorApp;

std::string calibrationPath();

// At start: the learner's calibration, else the default one.
void loadStrokeCalibration(TutorApp& app, HWND window);

// Serves Calibrate My Strokes and Measure the Sound Delay; false for any other id.
bool startListeningCheck(TutorApp& app, HWND window, int commandId);

// Each frame after the tutor's update: a failure to open the input, a calibration or a
// latency check that has finished, and the passes scored since the last frame.
void serveListening(TutorApp& app, HWND window);
