// The listening tutor's files, checks and boxes in the running program.
#include "app/listening_commands.h"

#include <cmath>
#include <cstdio>

#include "app/resource_ids.h"
#include "app/user_settings.h"
#include "store/practice_log.h"
#include "store/user_file.h"
#include "tutor/tutor_app.h"

namespace {

constexpr const char* boxCaption = "Listening";
constexpr const char* defaultCalibration = "soundFont/default.cal";
constexpr int64_t maxCalibrationBytes = 64 * 1024;

const char* toleranceName(Tolerance tolerance) {
    switch (tolerance) {
        case Tolerance::Strict: return "strict";
        case Tolerance::Relaxed: return "relaxed";
        case Tolerance::Normal: break;
    }
    return "normal";
}

// Reads a calibration file: false with a reason when it is missing, unreadable or damaged.
bool readCalibrationFile(const std::string& path, StrokeCalibration& calibration, bool& missing,
                         std::string& reason) {
    std::string bytes;
    const Loaded loaded = loadFile(path, maxCalibrationBytes, bytes, reason);
    missing = loaded == Loaded::Missing;
    if (loaded != Loaded::Read) return false;
    return readCalibration(bytes, calibration, reason);
}

bool scoreWarned = false;  // a box about the log once a run is enough

void writeScoredPasses(TutorApp& app, HWND window) {
    for (const ScoredPassReport& report : app.listening.takeScored()) {
        if (!app.entries || report.entry < 0 || report.entry >= app.entryCount) continue;
        const RhythmEntry& entry = app.entries[report.entry];
        ScoredPass pass;
        pass.date = todayLocalDate();
        pass.file = entry.file;
        pass.title = entry.title;
        pass.tempo = report.tempo;
        const ScoreSummary& s = report.summary;
        pass.strokes = s.strokes;
        pass.onTime = s.onTime;
        pass.early = s.early;
        pass.late = s.late;
        pass.wrong = s.wrong;
        pass.missed = s.missed;
        pass.extra = s.extra;
        pass.meanOffsetMs = s.meanOffsetMs;
        pass.spreadMs = s.spreadMs;
        pass.tolerance = toleranceName(report.tolerance);
        std::string error;
        const std::string path = practiceLogPath();
        if (!path.empty() && !appendScoredPass(path, pass, error) && !scoreWarned) {
            scoreWarned = true;
            const std::string text = "The scored pass could not be written to the practice log: " + error;
            MessageBoxA(window, text.c_str(), boxCaption, MB_OK | MB_ICONWARNING);
        }
    }
}

void reportCalibration(TutorApp& app, HWND window, const CalibrationResult& result) {
    if (!result.ok) {
        const std::string text = result.message + "\n\nThe calibration in use is kept.";
        MessageBoxA(window, text.c_str(), boxCaption, MB_OK | MB_ICONWARNING);
        return;
    }
    app.listening.setCalibration(result.calibration);
    const std::string path = calibrationPath();
    std::string error, reason;
    std::string text = result.message.empty() ? "Your strokes are calibrated." : result.message;
    if (path.empty() || !makeFolderFor(path, "the stroke calibration", error) ||
        !replaceWhole(path, calibrationText(result.calibration), reason)) {
        text += "\n\nIt is used now but could not be saved for the next time: " +
                (error.empty() ? path + ": " + reason : error);
        MessageBoxA(window, text.c_str(), boxCaption, MB_OK | MB_ICONWARNING);
        return;
    }
    MessageBoxA(window, text.c_str(), boxCaption, MB_OK | MB_ICONINFORMATION);
}

void reportLatency(TutorApp& app, HWND window, const LatencyCheck& check) {
    char text[700];
    if (check.heard < check.clicks * 3 / 4) {
        std::snprintf(text, sizeof text,
                      "Only %d of the %d clicks came back through the microphone. Turn the sound up, put the "
                      "microphone near the speakers, keep the room quiet, and try again.\n\nThe sound delay in use "
                      "is kept.",
                      check.heard, check.clicks);
        MessageBoxA(window, text, boxCaption, MB_OK | MB_ICONWARNING);
        return;
    }
    // The clicks were due as the sound system reports its delays; what is left over is
    // the input's share the system did not report (or the speakers' own).
    const int offset = static_cast<int>(std::lround(check.measuredMs + check.appliedMs));
    std::snprintf(text, sizeof text,
                  "Heard %d of %d clicks. The sound system reports %.1f ms to the speakers and %.1f ms from "
                  "the microphone; the clicks came back %+.1f ms from that (spread %.1f ms).\n\nThe tutor now "
                  "takes your strokes %d ms earlier when you use loudspeakers. With Headphones chosen, the "
                  "reported delays are used.",
                  check.heard, check.clicks, check.reportedOutputMs, check.reportedInputMs, check.measuredMs,
                  check.spreadMs, offset);
    rememberInputOffset(app, window, offset);
    MessageBoxA(window, text, boxCaption, MB_OK | MB_ICONINFORMATION);
}

}  // namespace

std::string calibrationPath() { return userFilePath("XDG_CONFIG_HOME", ".config", "strokes.cal"); }

void loadStrokeCalibration(TutorApp& app, HWND window) {
    StrokeCalibration calibration;
    bool missing = false;
    std::string reason;
    const std::string path = calibrationPath();
    if (!path.empty() && readCalibrationFile(path, calibration, missing, reason)) {
        app.listening.setCalibration(calibration);
        return;
    }
    if (!path.empty() && !missing) {
        std::string aside, why;
        std::string text = "Your stroke calibration " + path + " could not be used (" + reason + ")";
        text += setAside(path, aside, why) ? "; it was moved to " + aside + "." : ".";
        text += " Calibrate again from Practice > Listening.";
        MessageBoxA(window, text.c_str(), boxCaption, MB_OK | MB_ICONWARNING);
    }
    if (readCalibrationFile(defaultCalibration, calibration, missing, reason)) app.listening.setCalibration(calibration);
}

bool startListeningCheck(TutorApp& app, HWND window, int commandId) {
    if (commandId != ID_PRACTICE_CALIBRATE && commandId != ID_PRACTICE_MEASUREDELAY) return false;
    if (app.listening.busy()) return true;  // one check at a time
    const bool calibrate = commandId == ID_PRACTICE_CALIBRATE;
    const char* text =
        calibrate ? "Play four doums, then four teks, then four slaps, each at least half a second apart, on "
                    "the drum you practise on, in front of the microphone.\n\nPlayback stops; the tutor "
                    "listens from when you click OK and counts your strokes in the notice slot."
                  : "The tutor plays eight clicks and listens for them through the microphone, to learn how "
                    "late the sound reaches it.\n\nUse the loudspeakers you practise with, put the microphone "
                    "where it sits when you play, and keep quiet for five seconds after you click OK.";
    if (MessageBoxA(window, text, boxCaption, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) return true;
    app.stop();
    const bool started = calibrate ? app.listening.beginCalibration(app) : app.listening.beginLatencyCheck(app);
    if (!started) {
        std::string failure = app.listening.failure.empty() ? "The tutor cannot listen now." : app.listening.failure;
        app.listening.failure.clear();
        MessageBoxA(window, failure.c_str(), boxCaption, MB_OK | MB_ICONWARNING);
    }
    return true;
}

void serveListening(TutorApp& app, HWND window) {
    if (!app.listening.failure.empty()) {
        const std::string text = app.listening.failure;
        app.listening.failure.clear();
        listeningFailed(app, window);
        MessageBoxA(window, text.c_str(), boxCaption, MB_OK | MB_ICONWARNING);
    }
    CalibrationResult calibration;
    if (app.listening.calibrationDone(calibration)) reportCalibration(app, window, calibration);
    LatencyCheck latency;
    if (app.listening.latencyCheckDone(latency)) reportLatency(app, window, latency);
    writeScoredPasses(app, window);
}
