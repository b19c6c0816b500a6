// tabladex-score end to end: a take built from the shipped samples, every stroke of two passes
// of baladi_slap (the second silent) placed at a known offset from the grid, one left out,
// one played as the wrong stroke and one extra; scored at --start and fitted.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "cli/render/data_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr int rate = 44100;
constexpr double startSeconds = 1.5;
constexpr const char* kinds = "DDTSDTSTDDTSDTST";  // baladi_slap's steps as the listener tells them
constexpr int strokes = 32, missed = 5, wrong = 9, extraAfter = 12;

// Milliseconds off the grid for stroke i: -36 to +36 in steps of 6, never on a window's edge.
double placedMs(int i) { return ((i * 7) % 13 - 6) * 6.0; }

class Score : public ::testing::Test {
protected:
    void SetUp() override {
        data_ = sampleDataFolder(executableFolder());
        ASSERT_FALSE(data_.empty());
        dir_ = fs::temp_directory_path() / ("score_test_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::vector<float> sample(const char* name) {
        SF_INFO info{};
        SNDFILE* file = sf_open((data_ + "soundFont/" + name + ".wav").c_str(), SFM_READ, &info);
        EXPECT_TRUE(file && info.channels == 1 && info.samplerate == rate) << name;
        std::vector<float> samples(file ? static_cast<std::size_t>(info.frames) : 0);
        if (file) sf_readf_float(file, samples.data(), info.frames), sf_close(file);
        return samples;
    }

    // The take: 90 BPM, two steps a beat, so step j is due at startSeconds + j / 3.
    std::string buildTake(bool silent) {
        const std::vector<float> doum = sample("doumBackClipped"), tek = sample("tek_front"),
                                 slap = sample("slap_front");
        std::vector<float> take(static_cast<std::size_t>((startSeconds + strokes / 3.0 + 1.0) * rate), 0.f);
        const auto place = [&](char kind, double seconds) {
            const std::vector<float>& s = kind == 'D' ? doum : kind == 'S' ? slap : tek;
            const std::size_t at = static_cast<std::size_t>(std::llround(seconds * rate));
            for (std::size_t k = 0; k < s.size() && at + k < take.size(); ++k) take[at + k] += 0.5f * s[k];
        };
        for (int i = 0; i < strokes && !silent; ++i) {
            const double due = startSeconds + i / 3.0;
            if (i != missed) place(i == wrong ? 'S' : kinds[i % 16], due + placedMs(i) / 1000.0);
            if (i == extraAfter) place('T', due + 0.110);
        }
        const std::string path = (dir_ / (silent ? "silent.wav" : "take.wav")).string();
        SF_INFO info{0, rate, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_TRUE(file);
        if (file) sf_writef_float(file, take.data(), static_cast<sf_count_t>(take.size())), sf_close(file);
        return path;
    }

    // The program's standard output and exit status.
    static std::string run(const std::string& args, int& status, const char* program = TABLADEX_SCORE_PROGRAM) {
        std::string out;
        FILE* pipe = ::popen((std::string(program) + " " + args + " 2>/dev/null").c_str(), "r");
        char buffer[4096];
        for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        status = pipe ? WEXITSTATUS(::pclose(pipe)) : -1;
        return out;
    }

    std::string data_;
    fs::path dir_;
};

struct Row {
    long long pass = 0;
    int step = 0;
    char expected = 0;
    std::string heard, verdict;
    double offset = NAN;
};

// The table's stroke rows: "pass step due expected heard offset verdict".
std::vector<Row> tableRows(const std::string& text) {
    std::vector<Row> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        Row row;
        double due;
        char heard[8], offset[16];
        int used = 0;
        if (std::sscanf(line.c_str(), "%lld %d %lf %c %7s %15s %n", &row.pass, &row.step, &due, &row.expected, heard,
                        offset, &used) < 6 || used == 0)
            continue;
        row.heard = heard;
        row.offset = row.heard == "-" ? NAN : std::atof(offset);
        row.verdict = line.substr(static_cast<std::size_t>(used));
        rows.push_back(row);
    }
    return rows;
}

// The JSON strokes' offsets (NaN for null), one object a line as the program prints them.
std::vector<double> jsonOffsets(const std::string& text) {
    std::vector<double> offsets;
    for (std::size_t at = 0; (at = text.find("\"offset_ms\": ", at)) != std::string::npos; at += 13)
        offsets.push_back(text.compare(at + 13, 4, "null") == 0 ? NAN : std::atof(text.c_str() + at + 13));
    return offsets;
}

TEST_F(Score, StrokesAtKnownOffsetsScoredWithinAMillisecond) {
    const std::string take = buildTake(false);
    const std::string rhythm = data_ + "rhythms/baladi_slap.krf";
    int status = -1;
    const std::vector<Row> rows =
        tableRows(run("--repeats 2 --silent 1:1 --start 1.5 " + rhythm + " " + take, status));
    ASSERT_EQ(status, 0);
    ASSERT_EQ(rows.size(), std::size_t(strokes));
    for (int i = 0; i < strokes; ++i) {
        SCOPED_TRACE("stroke " + std::to_string(i));
        EXPECT_EQ(rows[i].pass, i / 16 + 1);
        EXPECT_EQ(rows[i].step, i % 16);
        EXPECT_EQ(rows[i].expected, kinds[i % 16]);
        if (i == missed) {
            EXPECT_EQ(rows[i].verdict, "missed");
            continue;
        }
        EXPECT_NEAR(rows[i].offset, placedMs(i), 1.0);
        const double o = placedMs(i);
        EXPECT_EQ(rows[i].verdict, i == wrong ? "wrong" : std::abs(o) <= 20 ? "on time" : o < 0 ? "early" : "late");
    }

    // Fitted, the mean lean of the strokes played right is taken up by the start: each
    // offset less that mean.
    const std::string json = run("--json --repeats 2 --silent 1:1 " + rhythm + " " + take, status);
    ASSERT_EQ(status, 0);
    EXPECT_NE(json.find("\"fitted\": true"), std::string::npos);
    // The extra tek is listed as heard, not taken by the doum it follows. (The count of extras
    // is the listener's business: a doum's ringing can make it hear more.)
    bool extraListed = false;
    for (std::size_t at = json.find("\"extra\": ["); (at = json.find("{\"time_s\": ", at)) != std::string::npos; at += 11)
        extraListed |= std::abs(std::atof(json.c_str() + at + 11) - (startSeconds + extraAfter / 3.0 + 0.110)) < 0.02 &&
                       json.compare(json.find("\"heard\": \"", at) + 10, 1, "T") == 0;
    EXPECT_TRUE(extraListed) << json;
    double mean = 0;
    for (int i = 0; i < strokes; ++i) mean += i == missed || i == wrong ? 0 : placedMs(i) / (strokes - 2);
    const std::vector<double> offsets = jsonOffsets(json);
    ASSERT_EQ(offsets.size(), std::size_t(strokes));
    for (int i = 0; i < strokes; ++i)
        if (i == missed) EXPECT_TRUE(std::isnan(offsets[i]));
        else EXPECT_NEAR(offsets[i], placedMs(i) - mean, 1.0) << "stroke " << i;

    // A silent take is scored, every stroke missed; a take that cannot be read is not.
    const std::string silent = run("--json --repeats 2 " + rhythm + " " + buildTake(true), status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(silent.find("\"missed\": 32,"), std::string::npos) << silent;
    run(rhythm + " " + (dir_ / "none.wav").string(), status);
    EXPECT_EQ(status, 1);
}

// Digital silence under a doum's ringing once made the listener hear strokes in it, which then
// took the place of the tek after; and a take opening on a stroke lost that stroke.
TEST_F(Score, CleanRendersAreHeardStrokeForStroke) {
    for (const char* name : {"baladi_slap", "maqsum", "maqsum_half_tek"}) {
        const std::string rhythm = data_ + "rhythms/" + name + ".krf", take = (dir_ / "render.wav").string();
        int status = -1;
        run(rhythm + " -o " + take + " --repeats 2", status, TABLADEX_RENDER_PROGRAM);
        const std::string out = run("--start 0 --repeats 2 " + rhythm + " " + take, status);
        const std::string strokes = std::to_string(tableRows(out).size());
        EXPECT_NE(out.find(strokes + " strokes: " + strokes + " on time"), std::string::npos) << name << out;
        EXPECT_NE(out.find(" 0 wrong, 0 missed; 0 extra\n"), std::string::npos) << name << out;
    }
}

}  // namespace
