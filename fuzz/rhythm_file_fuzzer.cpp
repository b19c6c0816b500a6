// Fuzz target: any bytes as a rhythm file, read through the same stream reader as a file on
// disk. Checks what the rest of the program relies on: a file that is read says a title and
// notation of whole lines without NUL bytes, a positive tempo and subdivision and at least
// one step; a refused one names its line (none when too large) and says why, and leaves the
// results untouched.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "rhythm/line_reader.h"
#include "rhythm/rhythm_file.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // fmemopen refuses an empty buffer, so give it one byte it may not read.
    std::vector<char> bytes(data, data + size);
    bytes.push_back('\0');
    std::FILE* file = fmemopen(bytes.data(), size == 0 ? 1 : size, "rb");
    if (!file) return 0;
    if (size == 0) std::fgetc(file);  // leaves the stream at its end: an empty file

    RhythmText text;
    ReadProblem problem;
    const bool read = readRhythmText(file, "fuzz.krf", text, problem);
    std::fclose(file);
    if (!read) {
        // The file line at fault, or 0 for a file too large as a whole.
        require(problem.line >= 0 && problem.line <= 4 && !problem.text.empty());
        require(text.title.empty() && text.notation.empty() && text.tempo == 0 &&
                text.subdivision == 0);
        return 0;
    }
    require(problem.line == 0 && problem.text.empty());
    require(text.tempo >= 1 && text.subdivision >= 1);
    require(!text.notation.empty() && text.notation.size() <= maxLineCharacters);
    require(text.title.size() <= maxLineCharacters);
    for (char c : text.title + text.notation) require(c != '\0' && c != '\n');
    const double stepTime = stepTimeFor(text.tempo, text.subdivision);
    require(stepTime > 0.0 && stepTime <= 60.0);
    return 0;
}
