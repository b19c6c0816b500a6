// Loading rhythms and playlists: the readers' results made into entries the tutor plays and
// draws, the boxes that tell the learner what was refused, and the swap of the entries.
#include "tutor/loading.h"

#include <cassert>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gfx/text_image.h"
#include "rhythm/file_kind.h"
#include "rhythm/notation_parser.h"
#include "rhythm/playlist.h"
#include "rhythm/rhythm_file.h"
#include "tutor/tutor_app.h"

namespace {

void showFileError(HWND owner, const std::string& text) {
    MessageBoxA(owner, text.c_str(), "File Error", MB_ICONWARNING);
}

void showPlaylistError(HWND owner, const char* text) {
    MessageBoxA(owner, text, "Playlist Error", MB_ICONWARNING);
}

// Paths may come with Windows separators (typed, or from a playlist).
void useSlashes(char* path) {
    for (char* at = path; *at != '\0'; ++at)
        if (*at == '\\') *at = '/';
}

// Only plain files are read: a folder says nothing, and a pipe or device could block the
// program forever.
bool isPlainFile(const char* path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

}  // namespace

void buildEntry(TutorApp& app, const RhythmText& text, RhythmEntry& entry) {
    entry.title = text.title;
    entry.titleImage = makeTextImage(entry.title, titleCellSize, titleCellSize, titleCellsPerLine,
                                     titleMaxLines, app.largeLetters)
                           .release();
    entry.tempo = text.tempo;
    entry.subdivision = text.subdivision;
    app.parseNotation(text.notation.c_str(), glyphCellSize, glyphCellSize, stepsPerRow,
                      maxNotationRows, app.rhythmNotes, &entry);
    entry.stepTime = stepTimeFor(text.tempo, text.subdivision);
}

void closeRhythmFile(std::FILE* file, HWND owner) {
    if (std::fclose(file) != 0) showFileError(owner, closeErrorText);
}

bool TutorApp::readRhythmFile(RhythmEntry* entry, char* path) {
    if (!path || !entry) return false;
    useSlashes(path);
    // Binary, so that line ends are handled the same way everywhere (see LineReader).
    std::FILE* file = isPlainFile(path) ? std::fopen(path, "rb") : nullptr;
    if (!file) {
        showFileError(window, readErrorText);
        return false;
    }
    RhythmText text;
    ReadProblem problem;
    const bool read = readRhythmText(file, path, text, problem);
    if (read) {
        buildEntry(*this, text, *entry);
        entry->file = path;
    }
    else
        showFileError(window, problem.text);
    closeRhythmFile(file, window);
    return read;
}

void TutorApp::parseNotation(const char* notation, int32_t cellWidth, int32_t cellHeight,
                             int32_t perRow, int32_t maxRows, const Surface& glyphSheet,
                             RhythmEntry* entry) {
    assert(entry && notation);
    assert(cellWidth >= 1 && cellHeight >= 1 && perRow >= 1 && maxRows >= 1);
    if (!entry || !notation) return;

    size_t length = 0;
    while (notation[length] != '\0' && length < static_cast<size_t>(INT32_MAX)) ++length;
    const int32_t n = static_cast<int32_t>(length);

    // A second parse into the same entry replaces all three parts.
    delete[] entry->stepSounds;
    entry->stepSounds = nullptr;
    delete entry->notationImage;
    entry->notationImage = nullptr;
    delete[] entry->glyphRects;
    entry->glyphRects = nullptr;

    entry->stepCount = n;
    entry->stepSounds = new SoundSlot*[static_cast<size_t>(n)]();
    entry->notationImage = new Surface();
    entry->glyphRects = new SpriteRect[static_cast<size_t>(n)]();

    // Every step gets its sound and its top-row glyph cell, also the steps beyond the last
    // row of the image, so the playback thread and the screen never meet an unset element.
    for (int32_t i = 0; i < n; ++i) {
        const NotationSymbol symbol = notationSymbol(notation[i]);
        switch (symbol.sound) {
            case StepSound::Doum: entry->stepSounds[i] = &doumSlot; break;
            case StepSound::Tek: entry->stepSounds[i] = &tekSlot; break;
            case StepSound::HalfTek: entry->stepSounds[i] = &halfTekSlot; break;
            case StepSound::Slap: entry->stepSounds[i] = &slapSlot; break;
            case StepSound::None: entry->stepSounds[i] = nullptr; break;
        }
        const int32_t left = symbol.glyphCell * cellWidth;
        entry->glyphRects[i] = SpriteRect{left, 0, left + cellWidth, cellHeight};
    }

    if (cellWidth < 1 || cellHeight < 1 || perRow < 1 || maxRows < 1) return;
    int64_t width = 0;
    int64_t height = 0;
    notationImageSize(n, cellWidth, cellHeight, perRow, maxRows, width, height);
    // An empty notation has width 0: the image stays without pixels.
    if (width > INT32_MAX || height > INT32_MAX ||
        !entry->notationImage->create(static_cast<int32_t>(width), static_cast<int32_t>(height), 4))
        return;

    // The image shows the glyphs of the sheet's second row; glyphRects name the top row,
    // which the screen draws over the step that sounded last.
    int32_t x = 0;
    int32_t y = 0;
    for (int32_t i = 0; i < n; ++i) {
        SpriteRect glyph = entry->glyphRects[i];
        glyph.top = cellHeight;
        glyph.bottom = 2 * cellHeight;
        copySheetCell(*entry->notationImage, glyphSheet, glyph, x, y);
        x += cellWidth;
        if (x >= entry->notationImage->width) {
            x = 0;
            y += cellHeight;
            if (y >= entry->notationImage->height) break;
        }
    }
}

void TutorApp::loadRhythm() {
    ++loadCount;
    // Read into a new entry: a refused file keeps the rhythm the learner had.
    RhythmEntry* loaded = makeEntries(1);
    if (readRhythmFile(&loaded[0], selectedPath)) {
        destroyEntries(entries);
        entries = loaded;
        entryCount = 1;
        currentEntry = 0;
        tempo = entries[0].tempo;
        rhythmLoaded = true;
        stepClock.store(0.0);
        // Requests left by the thread of the entries just replaced no longer apply.
        advanceRequested.store(false);
        previousRequested.store(false);
        beatFlag.store(true);
        stepIndex.store(0);
    } else {
        destroyEntries(loaded);
    }
    loadRhythmRequested = false;
}

bool TutorApp::readPlaylist() {
    useSlashes(selectedPath);
    const std::string path = selectedPath;
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);

    std::FILE* file = isPlainFile(selectedPath) ? std::fopen(selectedPath, "rb") : nullptr;
    if (!file) {
        showFileError(window, readErrorText);
        return false;
    }
    const PlaylistText playlist = readPlaylistText(file, folder, path);
    std::fclose(file);
    if (!playlist.refusal.empty()) {
        showPlaylistError(window, playlist.refusal.c_str());
        return false;
    }
    if (playlist.oddLines) showPlaylistError(window, oddLinesText);
    if (const std::string refusal = entryCountRefusal(playlist); !refusal.empty()) {
        showPlaylistError(window, refusal.c_str());
        return false;
    }

    // Read every rhythm into a new array first, so a failure keeps what was loaded before.
    const int32_t count = static_cast<int32_t>(playlist.items.size());
    RhythmEntry* loaded = makeEntries(count);
    for (int32_t i = 0; i < count; ++i) {
        std::vector<char> rhythmPath(playlist.items[i].path.begin(), playlist.items[i].path.end());
        rhythmPath.push_back('\0');
        if (!readRhythmFile(&loaded[i], rhythmPath.data())) {
            showPlaylistError(window, playlistLoadErrorText);
            destroyEntries(loaded);
            return false;
        }
        loaded[i].repeatCount = playlist.items[i].repeatCount;
        // A rhythm named again shows the images of its first entry: a long lesson that
        // repeats a few rhythms holds each one's images once.
        for (int32_t j = 0; j < i; ++j) {
            if (playlist.items[j].path != playlist.items[i].path || !loaded[j].ownsImages) continue;
            delete loaded[i].titleImage;
            delete loaded[i].notationImage;
            loaded[i].titleImage = loaded[j].titleImage;
            loaded[i].notationImage = loaded[j].notationImage;
            loaded[i].ownsImages = false;
            break;
        }
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

bool TutorApp::openFile(const char* path) {
    if (!path || std::strlen(path) >= sizeof selectedPath) {
        showFileError(window, readErrorText);
        return false;
    }
    // The kind by the same rule as the command-line tools: the extension, else the content.
    // A file that cannot be read goes to the rhythm reader, whose box says so.
    char readable[selectedPathSize];
    std::strcpy(readable, path);
    useSlashes(readable);
    std::FILE* file = isPlainFile(readable) ? std::fopen(readable, "rb") : nullptr;
    const FileKind kind = fileKind(readable, file);
    if (file) std::fclose(file);
    return requestLoad(kind == FileKind::Playlist ? LoadKind::Playlist : LoadKind::Rhythm, path);
}
