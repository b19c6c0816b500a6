// tabladex-check: the exact lines and exit status for small files the tutor refuses or plays
// other than meant, the fuzz corpora and regressions among them, and the command's usage.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cli/check/check_program.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string readAll(std::FILE* file) {
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

// The streams are files beside the case's folder: on Windows tmpfile() writes to the root of
// the drive, which a user may not write.
Outcome runChecker(const std::vector<std::string>& args, const fs::path& streams) {
    std::FILE* out = std::fopen((streams.string() + ".out").c_str(), "w+b");
    std::FILE* err = std::fopen((streams.string() + ".err").c_str(), "w+b");
    Outcome run;
    if (!out || !err) {
        ADD_FAILURE() << "cannot write the checker's output beside " << streams;
        return run;  // a stream that did open is closed when the test program ends
    }
    run.status = runCheck(args, out, err);
    run.out = readAll(out);
    run.err = readAll(err);
    return run;
}

// Each case runs in a fresh folder holding its files, so paths read as written here; {fuzz}
// stands for the fuzz folder of the source tree, with its corpora and regressions.
struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> args;
    std::string expected;
    int status;
};

const std::string longNotation(240, 'd');

std::string repeated(const std::string& text, int times) {
    std::string out;
    while (times-- > 0) out += text;
    return out;
}

// clang-format off
const Case cases[] = {
    {"corpora read clean", {}, {"{fuzz}/corpus/rhythm_file/basic_eight.krf",
     "{fuzz}/corpus/rhythm_file/crlf.krf", "{fuzz}/corpus/rhythm_file/bom_no_final_newline.krf"},
     "", 0},
    {"beats", {}, {"{fuzz}/corpus/rhythm_file/two_rows.krf"},
     "{fuzz}/corpus/rhythm_file/two_rows.krf:4: warning: The notation has 32 steps, not a whole "
     "number of beats of 3 steps: its last beat has 2.\n", 0},
    {"count too large", {}, {"{fuzz}/regressions/playlist/count-too-large-odd.krp"},
     "{fuzz}/regressions/playlist/count-too-large-odd.krp:3: error: The count is too large.\n", 1},
    {"odd lines, missing rhythms", {}, {"{fuzz}/corpus/playlist/odd.krp"},
     "{fuzz}/corpus/playlist/odd.krp:1: error: Error loading the playlist\n"
     "{fuzz}/corpus/playlist/odd.krp:3: warning: Error in playlist file: odd number of lines.\n"
     "{fuzz}/corpus/playlist/odd.krp:3: error: Error loading the playlist\n"
     "{fuzz}/corpus/playlist/a.krf: error: Error Reading File\n"
     "{fuzz}/corpus/playlist/b.krf: error: Error Reading File\n", 1},
    {"backslash path, endless count", {{"x/y.krf", "Y\n90\n2\nd-\n"}, {"p.krp", "x\\y.krf\r\n-1\r\n"}},
     {"p.krp"}, "p.krp:2: warning: The count -1 never ends this entry: it repeats until the "
     "learner moves on.\n", 0},
    {"title: columns, UTF-8 as characters, other bytes escaped, cut at the panel's edge",
     {{"t.krf", "Samai 10/8 Caf\xC3\xA9 \xC3\n90\n1\nd-\n"}, {"u.krf", "Masmoudi Kebir Filled\n90\n1\nd\n"}},
     {"t.krf", "u.krf"},
     "t.krf:1:7: warning: The title's characters '1', '0', '/', '8', '\xC3\xA9', '\\xC3' are not "
     "drawn: a title shows letters and spaces only.\n"
     "u.krf:1:20: warning: The title has 21 letters and spaces; the screen shows the first 19: \"ed\" is cut.\n", 0},
    {"numbers that are not whole, read as the tutor reads them",
     {{"a.krf", "A\n100.5\n2 \nd-\n"}, {"p.krp", "a.krf\nfour\na.krf\n1.5\na.krf\n\na.krf\n-1\n"}}, {"p.krp"},
     "p.krp:2: warning: The count 'four' is not a whole number: the tutor reads it as 0, so this entry "
     "never ends: it repeats until the learner moves on.\n"
     "p.krp:4: warning: The count '1.5' is not a whole number: the tutor reads it as 1.\n"
     "p.krp:6: warning: The count line is empty: the tutor reads it as 0, so this entry never ends: it "
     "repeats until the learner moves on.\n"
     "p.krp:8: warning: The count -1 never ends this entry: it repeats until the learner moves on.\n"
     "a.krf:2: warning: The tempo '100.5' is not a whole number: the tutor reads it as 100.\n", 0},
    {"a blank or comment line puts the pairs out of step: reported once",
     {{"a.krf", "A\n90\n2\nd-\n"}, {"b.krp", "a.krf\n2\n\na.krf\n3\na.krf\n1\n"},
      {"c.krp", "a.krf\n# lesson 1\n2\na.krf\n1\n"}}, {"b.krp", "c.krp"},
     "b.krp:3: error: The line is blank: the playlist's pairs are read out of step from here; the tutor "
     "takes it for a rhythm file's name, finds no such file and refuses the playlist (\"Error loading "
     "the playlist\").\n"
     "c.krp:2: error: The line '# lesson 1' looks like a comment, but a playlist has no comments where "
     "a count belongs: the playlist's pairs are read out of step from here; the tutor reads the count "
     "as 0 and the number after it as a rhythm file's name, finds no such file and refuses the "
     "playlist (\"Error loading the playlist\").\n", 1},
    {"tempo beyond the slider", {{"f.krf", "F\n301\n2\nd-\n"}, {"s.krf", "S\n29\n2\nd-\n"}},
     {"f.krf", "s.krf"},
     "f.krf:2: warning: The tempo 301 is outside the tempo slider's 30 to 300: it plays as "
     "written until the slider is touched.\n"
     "s.krf:2: warning: The tempo 29 is outside the tempo slider's 30 to 300: it plays as "
     "written until the slider is touched.\n", 0},
    {"notation", {{"n.krf", "N\n90\n2\nd-x-kxs-\n"}, {"l.krf", "L\n90\n2\n" + longNotation + "\n"}},
     {"n.krf", "l.krf"},
     "n.krf:4:3: warning: Step 3 and 1 more step are 'x', outside the notation alphabet "
     "(d t k D T K P S -): they play as rests.\n"
     "n.krf:4:7: warning: Step 7 is 's', outside the notation alphabet (d t k D T K P S -): it plays "
     "as a rest.\n"
     "l.krf:4: warning: The notation has 240 steps; only the first 224 are shown.\n", 0},
    {"refused rhythms, named once", {{"s.krf", "S\n90\n"}, {"z.krf", "Z\nfast\n2\nd-\n"},
     {"dir.krf/x", ""}, {"p.krp", "s.krf\n2\n\n1\ns.krf\n3\n"}},
     {"p.krp", "z.krf", "./s.krf", "dir.krf", "none.krf"},
     "p.krp:1: error: Error loading the playlist\n"
     "p.krp:3: error: The line is blank: the playlist's pairs are read out of step from here; the "
     "tutor takes it for a rhythm file's name, finds no such file and refuses the playlist (\"Error "
     "loading the playlist\").\n"
     "s.krf:3: error: The subdivision is missing: a rhythm file has four lines: "
     "title, tempo, subdivision and notation.\n"
     "z.krf:2: error: The tempo must be a positive whole number.\n"
     "dir.krf: error: Error Reading File\nnone.krf: error: Error Reading File\n", 1},
    {"empty playlist", {{"e.krp", "\n\n"}}, {"e.krp"},
     "e.krp: error: The playlist names no rhythm files; the current rhythm stays loaded.\n", 1},
    {"quiet keeps errors, verbose names clean files",
     {{"w.krf", "W\n90\n3\nd-\n"}, {"e.krf", "E\n90\n2\n\n"}, {"ok.krf", "Ok\n90\n2\nd-\n"}},
     {"--quiet", "-v", "w.krf", "e.krf", "ok.krf"},
     "w.krf: ok\ne.krf:4: error: The notation is empty.\nok.krf: ok\n", 1},
    {"odd lines load, with the box", {{"a.krf", "A\n90\n2\nd-\n"}, {"o.krp", "a.krf\n2\na.krf\n"}},
     {"o.krp"}, "o.krp:3: warning: Error in playlist file: odd number of lines.\n", 0},
    {"long lines named as the editor counts them",
     {{"t.krf", std::string(300, 'T') + "\n120\n2\nd-\n"}, {"n.krf", "N\n90\n1\n" + std::string(256, 'd') + "\n"},
      {"w.krf", std::string(255, 'W') + "\r\n90\n1\nd\n"}, {"p.krp", std::string(300, 'x') + "\n99999999999\n"}},
     {"t.krf", "n.krf", "w.krf", "p.krp"},
     "t.krf:1: warning: The line is longer than 255 characters; the tutor reads only the first 255\n"
     "t.krf:1:256: error: The tempo must be a positive whole number.\n"
     "n.krf:4: warning: The line is longer than 255 characters; the tutor reads only the first 255\n"
     "n.krf:4: warning: The notation has 255 steps; only the first 224 are shown.\n"
     "w.krf:1:20: warning: The title has 255 letters and spaces; the screen shows the first 19: \"" +
     std::string(236, 'W') + "\" is cut.\n"
     "p.krp:1: warning: The line is longer than 255 characters; the tutor reads only the first 255\n"
     "p.krp:2: error: The count is too large.\n", 1},
    {"kind by name, by content, or as asked", {{"r.txt", "R\n90\n2\nd-\n"}, {"l.txt", "r.txt\n2\n7.krf\n1\n"},
     {"7.krf", "S\n90\n2\n"}, {"s.txt", "S\n90\n2\n"}, {"r.krp", "R\n90\n2\nd-\n"}},
     {"-v", "r.txt", "l.txt", "s.txt"},
     "r.txt: ok\n"
     "l.txt:3: error: Error loading the playlist\n7.krf:4: error: The notation is missing: a rhythm file "
     "has four lines: title, tempo, subdivision and notation.\n"
     "s.txt:4: error: The notation is missing: a rhythm file has four lines: title, "
     "tempo, subdivision and notation.\n", 1},
    {"a playlist named by a playlist is a rhythm file there", {{"a.krf", "A\n90\n2\nd-\n"},
     {"q.krp", "a.krf\n1\n"}, {"p.krp", "q.krp\n1\n"}}, {"q.krp", "p.krp"},
     "p.krp:1: error: Error loading the playlist\nq.krp:3: error: The subdivision is missing: a rhythm "
     "file has four lines: title, tempo, subdivision and notation.\n", 1},
    {"--rhythm", {{"r.krp", "R\n90\n2\nd-\n"}}, {"--rhythm", "-v", "r.krp"}, "r.krp: ok\n", 0},
    {"huge files refused after reading their start",
     {{"many.krp", repeated("a.krf\n1\n", 1001)}, {"big.krp", repeated("a.krf\n1\n", 200000)},
      {"big.txt", "B\n90\n2\nd-\n" + std::string(70000, 'x')}},
     {"many.krp", "big.krp", "big.txt"},
     "many.krp:2001: error: The playlist names more than 1000 rhythm files; the current rhythm "
     "stays loaded.\n"
     "big.krp: error: The playlist is larger than 1 MB, more than any playlist of 1000 rhythm files; "
     "the current rhythm stays loaded.\n"
     "big.txt: error: The file is larger than 64 KB: too large for a rhythm file, which is "
     "four short lines.\n", 1},
    {"a file named like an option", {{"-v.krf", "V\n90\n2\nd-\n"}}, {"-v", "--", "-v.krf"},
     "-v.krf: ok\n", 0},
};
// clang-format on

class CheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        do {
            folder = fs::temp_directory_path() / ("tabladex-check-" + std::to_string(random()));
        } while (!fs::create_directory(folder));
        home = fs::current_path();
        fs::current_path(folder);
    }
    void TearDown() override {
        fs::current_path(home);
        fs::remove_all(folder);
        fs::remove(folder.string() + ".out");
        fs::remove(folder.string() + ".err");
    }
    Outcome check(const std::vector<std::string>& args) const { return runChecker(args, folder); }
    fs::path folder, home;
};

std::string withSource(std::string text) {
    for (size_t at; (at = text.find("{fuzz}")) != std::string::npos;)
        text.replace(at, 6, TABLADEX_SOURCE_DIR "/fuzz");
    return text;
}

TEST_F(CheckTest, LinesAndStatusForEachCase) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& [name, bytes] : c.files) {
            const fs::path path = folder / name;
            fs::create_directories(path.parent_path());
            std::ofstream(path, std::ios::binary) << bytes;
        }
        std::vector<std::string> args;
        for (const std::string& arg : c.args)
            args.push_back(withSource(arg));
        const Outcome run = check(args);
        EXPECT_EQ(run.out, withSource(c.expected));
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, c.status);
        for (const auto& entry : fs::directory_iterator(folder))
            fs::remove_all(entry.path());
    }
}

// The library shipped with the tutor reads without a single line: every warning rule holds
// for files written on purpose.
TEST_F(CheckTest, ShippedLibraryIsClean) {
    std::vector<std::string> args;
    for (const auto& entry : fs::directory_iterator(TABLADEX_SOURCE_DIR "/data/rhythms"))
        if (entry.path().extension() != ".md") args.push_back(entry.path().string());
    ASSERT_GT(args.size(), 30u);
    const Outcome run = check(args);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.status, 0);
}

TEST_F(CheckTest, UsageProblemsGoToStandardErrorWithStatusTwo) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"-v"}, {"--bogus", "a.krf"}, {"--rhythm", "--playlist", "a"}}) {
        const Outcome run = check(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.substr(run.err.find('\n') + 1), "Usage: tabladex-check [options] FILE...\n");
    }
    EXPECT_EQ(check({"--playlist", "--rhythm", "a"}).err,
              "tabladex-check: '--rhythm' and '--playlist' exclude each other\n"
              "Usage: tabladex-check [options] FILE...\n");
    const Outcome version = check({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "tabladex-check " TABLADEX_VERSION "\n");
}

}  // namespace
