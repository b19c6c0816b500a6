// Playlists: pairs of lines, a rhythm file path relative to the playlist's folder and how
// many passes of it to play. A playlist replaces the loaded rhythm only once every rhythm it
// names has been read; a playlist that cannot be used leaves the previous rhythm in place.
#include <cstdio>
#include <string>
#include <vector>

#include "rhythm/line_reader.h"
#include "rhythm/rhythm_file.h"
#include "tutor/tutor_app.h"

namespace {

void showPlaylistError(const char* text) {
    MessageBoxA(nullptr, text, "Playlist Error", MB_ICONWARNING);
}

}  // namespace

bool TutorApp::readPlaylist() {
    for (char* at = selectedPath; *at; ++at)
        if (*at == '\\') *at = '/';
    std::string path = selectedPath;
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);

    std::FILE* file = std::fopen(selectedPath, "rb");
    if (!file) {
        MessageBoxA(nullptr, "Error Reading File", "File Error", MB_ICONWARNING);
        return false;
    }
    std::vector<std::string> paths;
    std::vector<int32_t> repeats;
    LineReader reader(file);
    std::string line;
    while (reader.readLine(line)) {
        paths.push_back(folder + line);
        std::string countLine;
        if (!reader.readLine(countLine)) {
            showPlaylistError("Error in playlist file: odd number of lines.");
            countLine = line;  // the last entry's count comes from its own path line
        }
        int32_t count = 0;
        leadingInteger(countLine, count);
        repeats.push_back(count);
    }
    std::fclose(file);

    if (paths.empty()) {
        showPlaylistError("The playlist names no rhythm files; the current rhythm stays loaded.");
        return false;
    }

    // Read every rhythm into a new array first, so a failure keeps what was loaded before.
    const int32_t count = static_cast<int32_t>(paths.size());
    RhythmEntry* loaded = makeEntries(count);
    for (int32_t i = 0; i < count; ++i) {
        std::vector<char> rhythmPath(paths[i].begin(), paths[i].end());
        rhythmPath.push_back('\0');
        if (!readRhythmFile(&loaded[i], rhythmPath.data())) {
            showPlaylistError("Error loading the playlist");
            destroyEntries(loaded);
            return false;
        }
        loaded[i].repeatCount = repeats[i];
    }
    destroyEntries(entries);
    entries = loaded;
    entryCount = count;
    return true;
}

void TutorApp::loadPlaylist() {
    ++loadCount;
    if (readPlaylist()) {
        stepClock.store(0.0);
        // Requests left by the thread of the entries just replaced no longer apply.
        advanceRequested.store(false);
        previousRequested.store(false);
        rhythmLoaded = true;
        beatFlag.store(true);
        stepIndex.store(0);
        currentEntry = 0;
        tempo = entries[0].tempo;
    }
    loadPlaylistRequested = false;
}
