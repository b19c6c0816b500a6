// audio.h - the tutor's own sample-playback library.
//
// Promises: a system with a fixed number of channels (one voice each), sounds decoded
// once from WAV files at creation, channel groups with a volume, and sample-accurate
// starts: every play request is stamped with the time it is made and starts at the
// output frame that matches that time plus one constant latency.
//
// Threads: create, init, createSound, createChannelGroup, getChannel, setChannelGroup and
// release are called from one controlling thread (the main thread). After init, playSound
// and ChannelGroup::setVolume may be called from one other thread (the playback thread)
// while the output's own thread mixes; they never block. release must not overlap any
// other call.
//
// Ownership: the System owns every Sound, Channel and ChannelGroup it hands out; callers
// hold plain pointers that stay valid until System::release, which also frees the System.
//
// Result codes: every call returns a Result; Ok (0) is success. errorString gives the
// text for any code, "No errors." for Ok and "Unknown error." for a code it does not know.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace audio {

enum Result : int {
    Ok = 0,
    ErrInvalidParam = 1,     // a null pointer, a bad index or a bad count
    ErrNotInitialized = 2,   // the system has not been initialised (or init was called twice)
    ErrFileNotFound = 3,     // the WAV file does not exist or cannot be opened
    ErrFileBad = 4,          // the file exists but is not a sound the library can decode
    ErrOutputInit = 5,       // no output could be started, not even the silent one
    ErrMemory = 6,           // storage for a sound or the mixer could not be obtained
    ErrResample = 7,         // the sample-rate conversion failed
    ErrChannelGroup = 8,     // a group operation on an unknown or released group
    ErrFileTruncated = 9,    // the WAV file ends before the sound its header announces
    ErrBusy = 10,            // too many play requests are waiting for the audio thread
    ErrInputInit = 11,       // no input could be opened for capture (see startCapture)
};

// Text for a result code; never null.
const char* errorString(int result);

// Mode bits for System::createSound. The tutor passes LoopOff | Mode2D | Hardware (0x29);
// every sound plays once per trigger.
constexpr unsigned LoopOff = 0x01;
constexpr unsigned Mode2D = 0x08;
constexpr unsigned Hardware = 0x20;

// Flags for System::init.
constexpr unsigned InitNormal = 0;

// Channel index for playSound: play on the channel the caller passes in *channel.
constexpr int ChannelReuse = -2;

class Sound;
class Channel;
class ChannelGroup;
class System;

// Creates a system; *system receives it (null on failure).
Result systemCreate(System** system);

class ChannelGroup {
public:
    // Loudness of every channel bound to the group, clamped to 0.0 .. 1.0. Ramped on the
    // audio thread over one block, so changes make no zipper noise.
    Result setVolume(float volume);
    Result getVolume(float* volume) const;

protected:
    ChannelGroup() = default;
    ~ChannelGroup() = default;
};

class Channel {
public:
    // Routes the channel through the group (null: through no group, at unit gain).
    Result setChannelGroup(ChannelGroup* group);
    // The channel's index in the system.
    Result getIndex(int* index) const;

protected:
    Channel() = default;
    ~Channel() = default;
};

class Sound {
public:
    // Length in output frames after decoding and rate conversion.
    Result getLengthFrames(std::size_t* frames) const;

protected:
    Sound() = default;
    ~Sound() = default;
};

class System {
public:
    // Opens the output (see OutputKind below) with maxChannels voices. flags: InitNormal.
    // extraDriverData is unused and must be null.
    Result init(int maxChannels, unsigned flags, void* extraDriverData);
    // Decodes the whole WAV file now, to the output's format and rate.
    // exinfo is unused and must be null.
    Result createSound(const char* path, unsigned mode, void* exinfo, Sound** sound);
    Result createChannelGroup(const char* name, ChannelGroup** group);
    Result getChannel(int index, Channel** channel);
    // channelIndex: ChannelReuse to play on *channel (which must hold a channel of this
    // system), or 0 .. maxChannels-1. Starts sound on that channel, cutting off (with a
    // short fade) what it was playing. *channel receives the channel used.
    // paused must be false: there is no call to resume a paused channel.
    Result playSound(int channelIndex, Sound* sound, bool paused, Channel** channel);
    // Stops the output and frees every sound, channel, group and the system itself.
    Result release();

protected:
    System() = default;
    ~System() = default;
};

// ---------------------------------------------------------------------------------------
// Output selection, for the program, tests and benchmarks.
//
// A system's output is chosen when init runs, from the process-wide default below:
//   Device:  the sound server (libpulse) on Linux, else SDL2's audio device; waveOut on
//            Windows; when none can be opened, the silent output instead.
//   Silent:  no device; the mixer runs on its own thread, paced by the steady clock.
//   Offline: no thread; the mixer runs only when offlineRender is called, on a virtual
//            clock that the caller sets.
enum class OutputKind { Device, Silent, Offline };

void setDefaultOutput(OutputKind kind);
OutputKind defaultOutput();

// Which output the system actually runs (after a fallback from Device to Silent, Silent).
OutputKind outputKind(const System* system);
int outputSampleRate(const System* system);

// Device output: how its device has fared. When the device (on Linux, the sound server) goes
// away, the output goes on mixing on the steady clock into nothing, so requests made meanwhile
// keep their frames and none sound late in a burst, and it opens the device again with a
// back-off (150 ms at first, up to one second), so sound is back within about a second of the
// device's return. A sound server that stays away for 3 s is replaced by SDL2's device where
// one opens (the output then stays there); otherwise the server is tried on. playSound never
// waits for any of this. Main thread; on the other outputs every field is zero.
struct DeviceStatus {
    bool playing = false;     // a device takes the mix now
    unsigned losses = 0;      // times the device or sound server went away
    unsigned recoveries = 0;  // times sound came back after a loss, on it or on the fallback
    bool fallback = false;    // the sound server stayed away and SDL2's device plays instead
};
DeviceStatus deviceStatus(const System* system);

// Offline output: the sample rate of the systems initialised after the call, which decode
// their sounds to it (0 or less: the library's own rate, as the other outputs run). Process-
// wide, like setDefaultOutput.
void setOfflineSampleRate(int rate);

// Offline output: sets the virtual clock (seconds) that stamps play requests, and renders
// the next frames of interleaved stereo float into out. Main or test thread only.
void offlineSetTime(System* system, double seconds);
Result offlineRender(System* system, float* out, std::size_t frames);

// Silent output: when capture is on, everything the mixer renders (interleaved stereo
// float) is kept, up to maxFrames (allocated when capture is switched on, never on the
// audio thread), for measurements. silentTakeCapture moves what was kept out.
Result silentSetCapture(System* system, std::size_t maxFrames);
std::vector<float> silentTakeCapture(System* system);

// Stamps the next play request of the producer thread as made secondsAgo before the call:
// a producer that woke late for a start due earlier passes its lateness, so the start still
// lands on the frame of its due time; a negative value asks ahead for a start due later.
// Applies to one request; the producer thread only.
void stampNextStart(System* system, double secondsAgo);

// The clock that stamps play requests on the Device and Silent outputs: seconds on the
// steady clock by default. Tests that drive time themselves may replace it process-wide
// (before init) with a function that is safe to call from any thread; null restores it.
using ClockFunction = double (*)();
void setClock(ClockFunction now);

// A sound made from samples rather than read from a file (a metronome click the program
// makes itself): frames of interleaved stereo float at the output's rate
// (outputSampleRate), copied. Freed with the system, as a file's sound is. Main thread.
Result createSoundFromSamples(System* system, const float* stereo, std::size_t frames, Sound** sound);

// Seconds from a play request's stamp to the moment its first frame is heard: the constant
// latency below (outputLatencyFrames) plus the latency the output reports now for what it
// has taken from the mixer (the sound server's stream latency, the sink's own included; the
// queue of SDL, waveOut or WASAPI and the device's position; nothing for the silent output,
// and for the offline output what offlineSetDeviceLatency set, 0 at first). It moves slowly
// as the device reports; a screen that shows each stroke when it is heard adds it to the
// stroke's due time. Any thread; lock-free.
double heardDelay(const System* system);
// Offline output: the latency heardDelay adds for the device, as a test sets it.
void offlineSetDeviceLatency(System* system, double seconds);

// ---------------------------------------------------------------------------------------
// Test-facing inspection and switches (main or test thread).

// Frames the mixer renders per block, and the constant latency (in frames) added to the
// frame that matches a play request's time stamp.
int outputBlockFrames(const System* system);
int outputLatencyFrames(const System* system);

// When on, every play request starts at the first frame of the block in which the mixer
// receives it instead of at its stamped frame (the naive behaviour, kept as a baseline for
// measurements).
void setQuantizeStarts(System* system, bool on);

// Play requests that reached the mixer after their stamped frame had been rendered; they
// started at the first frame still to come.
std::size_t lateStarts(const System* system);

// ---------------------------------------------------------------------------------------
// Capture: what the default input (a microphone) hears, for listening to the learner.
//
// Every captured frame carries the time at which its sound reached the input, on the clock
// that stamps play requests (setClock; on the offline output its virtual clock). A stroke the
// learner plays, found at time t in the capture, compares directly with a stroke of the
// tutor's own stamped s, heard at s + heardDelay.
//
// The input is mono float at outputSampleRate(system): on Linux the sound server's default
// source (SDL2's default capture device where SDL_AUDIODRIVER is set or no server answers),
// on Windows WASAPI's default capture endpoint, whichever output plays. The silent output has
// no input. Captured frames wait in a ring of about five seconds, allocated by the first
// startCapture, filled by the input's own thread, which never waits for the reader; frames
// that find the ring full are dropped, and the reader is told where (a gap).
//
// A device or sound server that goes away ends the capture quietly: what the ring holds can
// still be read, then readCapture returns 0 and captureInfo says device = false. Calling
// startCapture again (after stopCapture) opens the input anew.

// How the capture runs. rate: frames per second (0 before the first startCapture). latency:
// seconds from the moment a sound reaches the input to the moment its frames can be read, as
// the device reported it last (the buffering of the device, the server and the stream);
// negative where the input is the monitor of an output that is heard later than its frames
// are taken (a sound server's monitor of its sink). device: a device captures now (false on
// the offline output, after stopCapture and after the device went away).
struct CaptureInfo {
    int rate = 0;
    double latency = 0;
    bool device = false;
};

// Opens the default input, as above; Ok at once if capture runs already. ErrInputInit on the
// silent output and when no input opens; ErrNotInitialized before init; ErrMemory when the
// ring cannot be had. On the offline output nothing opens: the test feeds the frames
// (offlineFeedCapture). Main thread.
Result startCapture(System* system);
// Closes the input (release does it too); what the ring holds can still be read. Main thread.
Result stopCapture(System* system);

// Moves up to maxFrames captured frames into out, oldest first, and returns how many. Never
// blocks; 0 when nothing waits (or capture never started). *firstFrameTime receives the
// time at which out[0] reached the input; frame i reached it i / rate later. *gap is true when
// out[0] does not follow the last frame read before it (frames were lost: nobody read them in
// time, the device dropped some, capture was stopped and started again); a read never spans a
// gap, so it may return fewer frames than wait: call again until it returns 0. Either out-
// pointer may be null. One consumer thread at a time (any thread, also while startCapture or
// stopCapture run on the main thread); not overlapping release.
std::size_t readCapture(System* system, float* out, std::size_t maxFrames, double* firstFrameTime, bool* gap);

// Any thread; lock-free.
CaptureInfo captureInfo(const System* system);

// Offline output, after startCapture: frames of mono float that reached the input from time
// on (seconds on the virtual clock). Frames that do not continue the time of the last ones fed
// are read after a gap. Frames that find the ring full are dropped, as a device's would be.
// The test thread only (it stands in for the input's thread).
Result offlineFeedCapture(System* system, const float* mono, std::size_t frames, double time);

}  // namespace audio
