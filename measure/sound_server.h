// sound_server.h - a private PulseAudio server for tests and benchmarks: one null sink
// ("tabla", 48 kHz float) whose monitor a recorder takes down with parec, reachable only
// through its own socket, so nothing of the user's own sound is touched.
//
// Server::start points this process's sound clients at the server (PULSE_SERVER and
// PULSE_RUNTIME_PATH, HOME and PULSE_STATE_PATH in the folder given); kill ends it at once, as
// a crash or an update does, and restart starts it again on the same socket. Each program
// runs with its standard streams elsewhere, and ends when the process that started it does. available() is false when pulseaudio, parec or
// pactl is missing (scripts/deps.sh installs them).
//
// Threads: one controlling thread; start sets environment variables, so call it before the
// sound clients of the process start. Ownership: each object ends the process it started.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace sound_server {

// Starts a program with its standard output going to outFile (or nowhere); its standard
// input and error go nowhere.
inline pid_t spawn(const std::vector<std::string>& args, const char* outFile = nullptr) {
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    // A test killed before its destructors run (a time-out, Ctrl+C) takes its server and
    // recorder with it, instead of leaving them running.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int none = open("/dev/null", O_RDWR);
    const int out = outFile ? open(outFile, O_WRONLY | O_CREAT | O_TRUNC, 0644) : none;
    dup2(none, 0);
    dup2(out, 1);
    dup2(none, 2);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

inline int waitFor(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool onPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= folders.size();) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

inline bool available() { return onPath("pulseaudio") && onPath("parec") && onPath("pactl"); }

// A file of raw floats (a recording, or what SDL's disk driver wrote); empty without one.
inline std::vector<float> readFloats(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in) return {};
    std::vector<float> samples(static_cast<std::size_t>(in.tellg()) / sizeof(float));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * sizeof(float)));
    return samples;
}

class Server {
public:
    Server() = default;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    ~Server() { stop(); }

    // False when the server does not answer within 5 s.
    bool start(const std::filesystem::path& folder) {
        folder_ = folder;
        std::filesystem::create_directories(folder / "run");
        setenv("HOME", folder.c_str(), 1);
        setenv("PULSE_RUNTIME_PATH", (folder / "run").c_str(), 1);
        setenv("PULSE_STATE_PATH", folder.c_str(), 1);
        setenv("PULSE_SERVER", ("unix:" + socket()).c_str(), 1);
        return launch();
    }
    bool restart() { return launch(); }
    void kill() { end(SIGKILL); }
    void stop() { end(SIGTERM); }

    // Logged at debug level, so that underruns are on record.
    std::filesystem::path log() const { return folder_ / "server.log"; }
    // Underruns the log reports from the given line on: each time the stream's buffer ran
    // dry ("Implicit underrun"; the server also logs the end of each), as steady seconds
    // (std::chrono::steady_clock). The log's times count from its first line, written as the
    // server starts, so they are dated from the launch, a few milliseconds early.
    std::vector<double> underrunsFrom(std::size_t firstLine, std::size_t* lines = nullptr) const {
        std::ifstream in(log());
        std::string line;
        std::size_t number = 0;
        std::vector<double> found;
        while (std::getline(in, line)) {
            if (number++ < firstLine) continue;
            for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (line.find("implicit underrun") == std::string::npos) continue;
            const std::size_t open = line.find('(');
            found.push_back(launchedAt_ + (open == std::string::npos ? 0.0 : std::atof(line.c_str() + open + 1)));
        }
        if (lines) *lines = number;
        return found;
    }
    // The playing stream's latency in ms as the server reports it (buffer plus sink).
    double streamLatencyMs() const {
        const std::string report = (folder_ / "inputs.txt").string();
        waitFor(spawn({"pactl", "list", "sink-inputs"}, report.c_str()));
        std::ifstream in(report);
        std::string word;
        double usec = 0.0;
        while (in >> word)
            if (word == "Latency:") {
                double value = 0.0;
                if (in >> value) usec += value;
            }
        return usec / 1000.0;
    }

private:
    std::string socket() const { return (folder_ / "run" / "native").string(); }
    bool launch() {
        // A restarted server begins the log anew.
        launchedAt_ = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        pid_ = spawn({"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n",
                      "--use-pid-file=false", "--log-level=debug", "--log-time=1",
                      "--log-target=file:" + log().string(),
                      "--load=module-null-sink sink_name=tabla rate=48000 format=float32le",
                      "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket()});
        for (int tries = 0; tries < 50; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (waitFor(spawn({"pactl", "info"})) == 0) return true;
        }
        return false;
    }
    void end(int signal) {
        if (pid_ <= 0) return;
        ::kill(pid_, signal);
        waitFor(pid_);
        pid_ = -1;
    }

    std::filesystem::path folder_;
    pid_t pid_ = -1;
    double launchedAt_ = 0;  // steady seconds
};

// parec taking down the sink's monitor as raw interleaved stereo float at 48 kHz. Start it
// before the stream to be heard: a null sink with nothing connected idles on a long timer,
// and a low-latency stream on its monitor wakes it up, as a real device would be.
class Recorder {
public:
    Recorder() = default;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    ~Recorder() { stop(); }
    void start(const std::filesystem::path& file) {
        file_ = file;
        pid_ = spawn({"parec", "--device=tabla.monitor", "--format=float32le", "--rate=48000",
                      "--channels=2", "--raw", "--latency-msec=10"},
                     file.c_str());
    }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGINT);
        waitFor(pid_);
        pid_ = -1;
    }
    // What was recorded (after stop); empty when nothing was.
    std::vector<float> samples() const { return readFloats(file_); }

private:
    std::filesystem::path file_;
    pid_t pid_ = -1;
};

}  // namespace sound_server
