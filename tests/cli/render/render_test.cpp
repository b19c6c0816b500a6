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
    // Then ladders up by 6 every 2 passes and down by 5 every pass, the grid counted from each
    // rung, silent passes, clicks at the first tempo whose beat (75600, 64000 frames) is exact.
    const std::string notation = "dt-td-t-dt-td-t-";
    struct Case { int rate; int32_t tempo, repeats, countIn; SpeedLadder ladder; SilentPasses silent; };
    const Case cases[] = {{48000, 37, 2, 0, {}, {}}, {44100, 37, 2, 0, {}, {}},
                          {44100, 0, 5, 2, {35, 47, 6, 2}, {2, 1}}, {48000, 0, 3, 3, {45, 30, 5, 1}, {1, 1}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.repeats);
        const PlanSettings settings{c.tempo, c.repeats, c.countIn, c.rate, -1, c.ladder, c.silent};
        std::vector<Stroke> planned;
        const auto found = onsets(data_ + "rhythms/maqsum.krf", settings, planned);
        const int32_t first = c.tempo > 0 ? c.tempo : c.ladder.start;
        std::vector<int64_t> expected;
        for (int k = 0; k < c.countIn; ++k) expected.push_back(frameAt(60.0 * k, first, c.rate));
        int64_t rungStart = frameAt(60.0 * c.countIn, first, c.rate), steps = 0;
        const auto at = [&](int32_t tempo) { return rungStart + frameAt(60.0 * steps, 2.0 * tempo, c.rate); };
        for (int32_t pass = 1, tempo = first; pass <= c.repeats; ++pass) {
            const int32_t moved = std::min((pass - 1) / c.ladder.every * c.ladder.step, std::abs(c.ladder.end - first));
            const int32_t now = c.tempo > 0 ? c.tempo : first + (c.ladder.end > first ? moved : -moved);
            if (now != tempo) {
                rungStart = at(tempo);
                steps = 0;
                tempo = now;
            }
            const bool heard = c.silent.rest == 0 || (pass - 1) % (c.silent.play + c.silent.rest) < c.silent.play;
            const int64_t begins = at(tempo);
            for (int k = 0; k < 16; ++k, ++steps)
                if (heard && notation[k] != '-') expected.push_back(at(tempo));
            const auto silence = [](float value) { return value == 0.0f; };
            EXPECT_TRUE(heard || std::all_of(stream_.begin() + 2 * begins, stream_.begin() + 2 * at(tempo), silence))
                << "pass " << pass;
        }
        expectOnFrames(found, expected, planned);
        EXPECT_TRUE(c.countIn == 0 || planned[c.countIn].frame - planned[c.countIn - 1].frame == 60 * c.rate / first);
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

// Renders without a ladder or silent passes, as checksums (FNV-1a) of their strokes and 16-bit
// samples taken before the practice session came to the renderer.
TEST_F(Render, RendersWithoutThePracticeOptionsAreUnchanged) {
    write("fast.krf", "Fast\n300\n4\nt---\n");
    write("slow.krf", "Slow\n37\n1\nd-\n");
    const std::string list = write("seams.krp", "fast.krf\n2\nslow.krf\n1\nfast.krf\n3\n");
    struct Case { std::string input; PlanSettings settings; uint64_t sum; };
    const Case cases[] = {{data_ + "rhythms/maqsum.krf", {0, 3, 4, 48000, -1, {}, {}}, 0xe8c8f410f6d786b0},
                          {data_ + "rhythms/aqsaq.krf", {137, 5, 0, 44100, -1, {}, {}}, 0xc5be83723fc3a47b},
                          {list, {0, 1, 2, 44100, -1, {}, {}}, 0x75bcf20213756dec}};
    for (const Case& c : cases) {
        std::vector<Stroke> planned;
        onsets(c.input, c.settings, planned);
        uint64_t sum = 14695981039346656037ull;
        const auto mix = [&sum](int64_t value) { sum = (sum ^ static_cast<uint64_t>(value)) * 1099511628211ull; };
        for (const Stroke& stroke : planned) mix(stroke.frame * strokeSoundCount + int(stroke.sound));
        for (const float value : stream_) mix(std::lrint(std::clamp(value, -1.0f, 1.0f) * 32767));
        EXPECT_EQ(sum, c.sum) << c.input << ": 0x" << std::hex << sum;
    }
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
    const std::string climbs = write("climbs.krp", "rest.krf\n2\nrest.krf\n1\n");
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
        SpeedLadder ladder = {};
        SilentPasses silent = {};
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
        // Clicks at 80, two passes at 80 (the second silent), one at 90; cut in the silent one.
        {maqsum, "ladder.wav", 3, 4, 0.0, frameAt(4 * 60.0, 80, rate) + frameAt(32 * 60.0, 160, rate) +
         frameAt(16 * 60.0, 180, rate), "", "Maqsum", "", {80, 120, 10, 2}, {1, 1}},
        {maqsum, "ladder-cut.wav", 3, 4, 0.2, frameAt(12, 1, rate), "0:12.000, in pass 2 of 3 (silent, 80 BPM)",
         "Maqsum", "", {80, 120, 10, 2}, {1, 1}},
        // Passes of 2 s at 60 and 1 s at 120, its seam 0.5 s; the next entry again at 60.
        {climbs, "climbs.wav", 1, 0, 0.0, frameAt(5, 1, rate), "", "climbs", "", {60, 120, 60, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        RenderOptions options;
        options.input = c.input;
        options.output = (dir_ / c.output).string();
        options.repeats = c.repeats;
        options.countInBeats = c.countIn;
        options.minutes = c.minutes;
        options.ladder = c.ladder;
        options.silent = c.silent;
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
    // After "in.krf -o x.wav", each refused with what it says.
    const std::vector<std::pair<std::vector<const char*>, std::string>> refused = {
        {{"--tempo", "0"}, "'0' for '--tempo': a whole number from 1 to 10000"}, {{"--tempo", "12.5"}, "1 to 10000"},
        {{"--rate", "4000"}, "from 8000 to 192000"},       {{"--gain", "nan"}, "a number from -60 to 24"},
        {{"--minutes", "0"}, "above 0, up to 1440"},       {{"--count-in", "65"}, "from 0 to 64"},
        {{"--repeats", "0"}, "from 1 to 1000000"},         {{"--speed", "2"}, "unknown option '--speed'"},
        {{"--tempo"}, "option '--tempo' needs a value"},   {{"--", "--tempo"}, "more than one input"},
        {{"-o", "y.wav"}, "'-o' given twice"},             {{"--type", "mp3"}, "wav, flac or ogg"},
        {{"--ladder", "80:120"}, "'80:120' for '--ladder': START:END:STEP or START:END:STEP:EVERY"},
        {{"--ladder", "80:301:5"}, "START and END are whole tempos from 30 to 300"},
        {{"--ladder", "80:120:0"}, "STEP is a whole number of beats per minute from 1 to 270"},
        {{"--ladder", "80:120:5:0"}, "EVERY is a whole number of passes from 1 to 1000000"},
        {{"--ladder", "80:120:5", "--tempo", "90"}, "'--tempo' and '--ladder' both set the tempo"},
        {{"--silent", "1:0"}, "'1:0' for '--silent': PLAY:REST, passes heard then passes silent, each from 1 to 1000"},
    };
    for (auto [args, says] : refused) {
        args.insert(args.begin(), {"in.krf", "-o", "x.wav"});
        EXPECT_FALSE(parse(args, options, error)) << args.back();
        EXPECT_NE(error.find(says), std::string::npos) << error;
    }
    EXPECT_FALSE(parse({"in.krf"}, options, error));
    EXPECT_TRUE(parse({"--help"}, options, error) && options.help);
    // Short options combined, a value joined to its option, options after the input.
    ASSERT_TRUE(parse({"-qvtflac", "in.krf", "-o-", "--ladder=90:60:5", "--silent", "3:2"}, options, error)) << error;
    EXPECT_TRUE(options.quiet && options.verbose);
    EXPECT_TRUE(options.ladder.start == 90 && options.ladder.end == 60 && options.ladder.step == 5 &&
                options.ladder.every == 1 && options.silent.play == 3 && options.silent.rest == 2);
    EXPECT_EQ(options.output, "-");
    EXPECT_EQ(options.input, "in.krf");
    SoundFileFormat format = SoundFileFormat::Wav;
    EXPECT_TRUE(outputFormat(options, format) && format == SoundFileFormat::Flac);
}

}  // namespace
