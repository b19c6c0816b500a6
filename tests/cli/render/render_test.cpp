// tabladex-render: strokes on the exact frames of the grid, the length and the playlist's
// seams as the tutor times them, and refused renders that leave no file behind.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "cli/render/data_folder.h"
#include "cli/render/plan_loader.h"
#include "cli/render/plan_renderer.h"
#include "cli/render/render_job.h"
#include "cli/render/render_options.h"
#include "measure/onset_detect.h"

namespace fs = std::filesystem;

namespace {

class Render : public ::testing::Test {
protected:
    void SetUp() override {
        data_ = sampleDataFolder(executableFolder());
        ASSERT_FALSE(data_.empty());
        dir_ = fs::temp_directory_path() / ("render_test_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / name, std::ios::binary) << text;
        return (dir_ / name).string();
    }

    // The stroke onsets of a render to memory, with the sound of each stroke as planned.
    std::vector<std::size_t> onsets(const std::string& input, const PlanSettings& settings,
                                    std::vector<Stroke>& planned) {
        RenderPlan plan;
        std::vector<std::string> warnings;
        std::string error;
        EXPECT_TRUE(loadPlan(input, settings, plan, warnings, error)) << error;
        PlanRenderer renderer;
        EXPECT_TRUE(renderer.open(plan, data_, 0.0, error)) << error;
        stream_.clear();
        RenderSink sink;
        sink.user = &stream_;
        sink.write = [](void* user, const float* stereo, std::size_t frames) {
            auto* out = static_cast<std::vector<float>*>(user);
            out->insert(out->end(), stereo, stereo + 2 * frames);
            return true;
        };
        EXPECT_TRUE(renderer.render(sink, error)) << error;
        EXPECT_EQ(static_cast<int64_t>(stream_.size() / 2), renderer.lengthFrames());
        StrokeTimeline timeline(plan, renderer.lengthFrames());
        for (Stroke stroke; timeline.next(stroke);) planned.push_back(stroke);
        return findOnsets(stream_.data(), stream_.size() / 2, settings.rate, OnsetOptions{0.02f, 0.005});
    }

    // Each stroke's onset lies the same few frames after its planned frame for every stroke
    // of one sound (the sample's own attack), so strokes sit exactly on their frames.
    static void expectOnFrames(const std::vector<std::size_t>& found, const std::vector<int64_t>& expected,
                               const std::vector<Stroke>& planned) {
        ASSERT_EQ(found.size(), expected.size()) << ::testing::PrintToString(found);
        ASSERT_EQ(planned.size(), expected.size());
        std::map<StrokeSound, int64_t> attack;
        for (std::size_t k = 0; k < expected.size(); ++k) {
            EXPECT_EQ(planned[k].frame, expected[k]) << "stroke " << k;
            const int64_t offset = static_cast<int64_t>(found[k]) - expected[k];
            EXPECT_GE(offset, 0) << "stroke " << k;
            EXPECT_LE(offset, 4) << "stroke " << k;
            EXPECT_EQ(attack.try_emplace(planned[k].sound, offset).first->second, offset) << "stroke " << k;
        }
    }

    std::string data_;
    fs::path dir_;
    std::vector<float> stream_;
};

// The frame of a time in seconds on the grid, halves up.
int64_t frameAt(double numerator, double denominator, int rate) {
    return static_cast<int64_t>(std::floor(numerator * rate / denominator + 0.5));
}

TEST_F(Render, StrokesOfAShippedRhythmSitOnTheExactFramesOfTheirSteps) {
    // Maqsum slowed to 37 beats per minute: each sample dies away before the next stroke, and
    // a step is 38918.9 frames at 48 kHz, 35756.8 at 44.1 kHz, so every stroke is rounded.
    const std::string notation = "dt-td-t-dt-td-t-";
    for (const int rate : {48000, 44100}) {
        SCOPED_TRACE(rate);
        PlanSettings settings;
        settings.tempo = 37;
        settings.repeats = 2;
        settings.rate = rate;
        std::vector<Stroke> planned;
        const auto found = onsets(data_ + "rhythms/maqsum.krf", settings, planned);
        std::vector<int64_t> expected;
        for (int k = 0; k < 32; ++k)
            if (notation[k % 16] != '-') expected.push_back(frameAt(60.0 * k, 37.0 * 2, rate));
        expectOnFrames(found, expected, planned);
    }
}

TEST_F(Render, APlaylistsSeamsAreTimedAsInTheTutor) {
    // A fast entry (a step of 50 ms): the next entry starts the 120 ms breath after its last
    // step. A slow one (1.62 s steps): one step after its last step.
    write("fast.krf", "Fast\n300\n4\nt---\n");
    write("slow.krf", "Slow\n37\n1\nd-\n");
    const std::string list = write("seams.krp", "fast.krf\n1\nslow.krf\n1\nfast.krf\n1\n");
    const int rate = 48000;
    const int64_t slow = frameAt(60.0, 37.0, rate);
    const int64_t second = frameAt(3 * 60.0, 1200.0, rate) + std::llround(0.120 * rate);
    const int64_t third = second + slow + slow;
    PlanSettings settings;
    settings.countInBeats = 2;  // at the first entry's tempo, before it
    std::vector<Stroke> planned;
    const auto found = onsets(list, settings, planned);
    const int64_t beat = frameAt(60.0, 300.0, rate);
    expectOnFrames(found, {0, beat, 2 * beat, 2 * beat + second, 2 * beat + third}, planned);
}

// Also what becomes of the output: a file replaced keeps its mode, a symbolic link stays and
// its target gets the render, a pipe gets a WAV whose header tells the exact length, and
// every file carries the title.
TEST_F(Render, TheFileLastsExactlyAsLongAsThePlanOrItsLimit) {
    write("endless.krf", "Endless\n120\n2\nd-t-\n");
    const std::string list = write("endless.krp", "endless.krf\n0\n");
    write("rest.krf", "Rest\n20\n1\nd-\n");  // a doum, then 3 s of rest; the next entry at 6 s
    const std::string rests = write("rests.krp", "rest.krf\n1\nrest.krf\n1\n");
    const std::string restsText = write("rests.txt", "rest.krf\n1\nrest.krf\n1\n");
    fs::permissions(write("old.wav", "a file from before"), fs::perms(0640));
    fs::create_symlink("old.wav", dir_ / "link.wav");
    ASSERT_EQ(mkfifo((dir_ / "pipe.wav").c_str(), 0600), 0);
    struct Case {
        std::string input, output;
        int32_t repeats, countIn;
        double minutes;
        int64_t frames;
        std::string warns;  // how a cut is named; empty: no warning
        std::string title, readFrom = "";
    };
    const int rate = 48000;
    const std::string maqsum = data_ + "rhythms/maqsum.krf";
    const Case cases[] = {
        // Two passes of 16 steps of 0.3 s; the last tek rings out within the last rest.
        {maqsum, "two.wav", 2, 0, 0.0, frameAt(32 * 60.0, 200.0, rate), "", "Maqsum"},
        // Three clicks at 100 beats per minute first.
        {maqsum, "counted.flac", 1, 3, 0.0, frameAt(3 * 60.0, 100.0, rate) + frameAt(16 * 60.0, 200.0, rate), "",
         "Maqsum"},
        // An endless entry plays until the limit.
        {list, "limited.ogg", 1, 0, 0.05, std::llround(0.05 * 60 * rate), "at 0:03.000, in entry 1 of 1 (",
         "endless"},
        // Cut in the first entry's rest with the second still to come; in a doum 6 ms after it starts.
        {rests, "rests.flac", 1, 0, 0.04, frameAt(2.4, 1, rate), "at 0:02.400, in entry 1 of 2 (", "rests"},
        {restsText, "rests-txt.wav", 1, 0, 0.04, frameAt(2.4, 1, rate), "in entry 1 of 2 (", "rests"},
        {maqsum, "cut.wav", 2, 0, 0.1001, 288288, "0.1001 cuts the render at 0:06.006, in pass 2 of 2", "Maqsum"},
        {maqsum, "link.wav", 1, 0, 0.0, frameAt(16 * 60.0, 200.0, rate), "", "Maqsum", "old.wav"},
        {maqsum, "pipe.wav", 1, 0, 0.0, frameAt(16 * 60.0, 200.0, rate), "", "Maqsum", "piped.wav"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        RenderOptions options;
        options.input = c.input;
        options.output = (dir_ / c.output).string();
        options.repeats = c.repeats;
        options.countInBeats = c.countIn;
        options.minutes = c.minutes;
        RenderReport report;
        std::vector<std::string> warnings;
        std::string error;
        std::thread reader;
        if (c.output == "pipe.wav")
            reader = std::thread([this] {
                std::ifstream in(dir_ / "pipe.wav", std::ios::binary);
                std::ofstream(dir_ / "piped.wav", std::ios::binary) << in.rdbuf();
            });
        ASSERT_TRUE(renderToFile(options, data_, {}, report, warnings, error)) << error;
        if (reader.joinable()) reader.join();
        SF_INFO info{};
        SNDFILE* file = sf_open((dir_ / (c.readFrom.empty() ? c.output : c.readFrom)).c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr);
        const char* title = sf_get_string(file, SF_STR_TITLE);
        EXPECT_EQ(title ? title : "", c.title);
        sf_close(file);
        EXPECT_EQ(info.frames, c.frames);
        EXPECT_EQ(info.samplerate, rate);
        EXPECT_EQ(report.frames, c.frames);
        ASSERT_EQ(warnings.size(), c.warns.empty() ? 0u : 1u);
        if (!c.warns.empty()) {
            EXPECT_NE(warnings[0].find(c.warns), std::string::npos) << warnings[0];
        }
    }
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.wav"));
    EXPECT_EQ(fs::status(dir_ / "old.wav").permissions(), fs::perms(0640));
    EXPECT_EQ(fs::status(dir_ / "pipe.wav").type(), fs::file_type::fifo);
}

TEST_F(Render, ARefusedOrFailedRenderLeavesNoFile) {
    const std::string badTempo = write("bad.krf", "Bad\nfast\n2\ndt-t\n");
    write("ok.krf", "Ok\n100\n2\ndt-t\n");
    const std::string endless = write("endless.krp", "ok.krf\n2\nok.krf\n0\n");
    const std::string ok = (dir_ / "ok.krf").string();
    fs::create_directories(dir_ / "folder.wav");
    write("kept.wav", "the file from before");
    const std::string trick = write("trick.wav", "Trick\n100\n2\ndt-t\n");  // a rhythm file
    fs::create_symlink("trick.wav", dir_ / "alias.wav");
    const std::string naming = write("naming.krp", "ok.krf\n1\ntrick.wav\n1\n");
    fs::permissions(write("ro.wav", "the file from before"), fs::perms(0444));
    static volatile std::sig_atomic_t interrupted = 1;
    struct Case {
        std::string input, output;
        bool interrupt;
        std::string says;
        double minutes = 0.0;
    };
    const Case cases[] = {
        {badTempo, "out.wav", false, "The tempo on line 2"},
        {badTempo, "kept.wav", false, "The tempo on line 2"},
        {(dir_ / "missing.krf").string(), "out.wav", false, "no such file"},
        {endless, "out.ogg", false, "endless.krp:4: "},
        {ok, "out.mp3", false, "unknown output format"},
        {ok, "no/such/folder/out.wav", false, "cannot write in"},
        {ok, "folder.wav", false, "folder.wav"},  // renamed over a folder: refused at the end
        {ok, "out.flac", true, "interrupted"},
        {ok, "out.wav", false, "--minutes 1e-07 is shorter than one sample at 48000 Hz", 1e-7},
        // Files that are not the user's to lose.
        {trick, "trick.wav", false, "trick.wav: is the input"},
        {trick, "alias.wav", false, "alias.wav: is the input"},
        {naming, "trick.wav", false, "trick.wav, which the playlist names"},
        {ok, "ro.wav", false, "ro.wav: the file is read-only for you"},
    };
    const auto listing = [this] {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(dir_)) names.push_back(entry.path().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = listing();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        RenderOptions options;
        options.input = c.input;
        options.output = (dir_ / c.output).string();
        options.minutes = c.minutes;
        RenderHooks hooks;
        hooks.interrupted = c.interrupt ? &interrupted : nullptr;
        RenderReport report;
        std::vector<std::string> warnings;
        std::string error;
        EXPECT_FALSE(renderToFile(options, data_, hooks, report, warnings, error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_EQ(listing(), before);
    }
    for (const char* name : {"kept.wav", "ro.wav"}) {
        std::ifstream kept(dir_ / name);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "the file from before") << name;
    }
    EXPECT_EQ(fs::status(dir_ / "ro.wav").permissions(), fs::perms(0444));
}

TEST_F(Render, AStopSignalRemovesTheUnfinishedFileAndIsInTheExitStatus) {
    const std::string input = data_ + "rhythms/maqsum.krf", output = (dir_ / "long.flac").string();
    for (const int number : {SIGHUP, SIGINT, SIGTERM, SIGQUIT}) {
        SCOPED_TRACE(number);
        const pid_t child = fork();
        if (child == 0) {
            // The test may run where some of them are ignored, which the program respects.
            for (const int each : {SIGHUP, SIGINT, SIGTERM, SIGQUIT}) std::signal(each, SIG_DFL);
            execl(TABLADEX_RENDER_PROGRAM, "tabladex-render", input.c_str(), "-o", output.c_str(), "--repeats",
                  "100000", static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(child, 0);
        // Signalled once the temporary file exists: the render is under way.
        int status = 0;
        while (fs::is_empty(dir_) && waitpid(child, &status, WNOHANG) == 0) usleep(1000);
        kill(child, number);
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + number) << status;
        EXPECT_TRUE(fs::is_empty(dir_));
    }
}

TEST(RenderOptions, ReadsBothSpellingsAndRefusesWhatCannotBeUsed) {
    const auto parse = [](std::vector<const char*> args, RenderOptions& options, std::string& error) {
        args.insert(args.begin(), "tabladex-render");
        return parseRenderOptions(static_cast<int>(args.size()), args.data(), options, error);
    };
    RenderOptions options;
    std::string error;
    ASSERT_TRUE(parse({"in.krp", "--tempo=120", "--output", "out.ogg", "--rate", "44100", "--minutes=1.5",
                       "--gain", "-6", "--count-in", "4", "-v"},
                      options, error))
        << error;
    EXPECT_EQ(options.input, "in.krp");
    EXPECT_EQ(options.output, "out.ogg");
    EXPECT_EQ(options.tempo, 120);
    EXPECT_EQ(options.rate, 44100);
    EXPECT_EQ(options.minutes, 1.5);
    EXPECT_EQ(options.gainDb, -6.0);
    EXPECT_EQ(options.countInBeats, 4);
    EXPECT_TRUE(options.verbose);
    EXPECT_FALSE(options.repeatsGiven);
    const std::vector<std::vector<const char*>> refused = {
        {"in.krf", "-o", "x.wav", "--tempo", "0"},       {"in.krf", "-o", "x.wav", "--tempo", "12.5"},
        {"in.krf", "-o", "x.wav", "--rate", "4000"},     {"in.krf", "-o", "x.wav", "--gain", "nan"},
        {"in.krf", "-o", "x.wav", "--minutes", "0"},     {"in.krf", "-o", "x.wav", "--count-in", "65"},
        {"in.krf", "-o", "x.wav", "--repeats", "0"},     {"in.krf", "-o", "x.wav", "--speed", "2"},
        {"in.krf", "-o", "x.wav", "--tempo"},            {"in.krf"},
        {"in.krf", "-o", "x.wav", "--", "--tempo"},  // after "--", a second input
        {"in.krf", "-o", "x.wav", "-o", "y.wav"},    {"in.krf", "-o", "-", "--type", "mp3"},
    };
    for (const auto& args : refused) {
        EXPECT_FALSE(parse(args, options, error)) << args.back();
        EXPECT_FALSE(error.empty());
    }
    EXPECT_TRUE(parse({"--help"}, options, error) && options.help);
    // Short options combined, a value joined to its option, options after the input.
    ASSERT_TRUE(parse({"-qvtflac", "in.krf", "-o-"}, options, error)) << error;
    EXPECT_TRUE(options.quiet && options.verbose);
    EXPECT_EQ(options.output, "-");
    EXPECT_EQ(options.input, "in.krf");
    SoundFileFormat format = SoundFileFormat::Wav;
    EXPECT_TRUE(outputFormat(options, format) && format == SoundFileFormat::Flac);
}

}  // namespace
