// clock.h - the process-wide clock that stamps play requests.
//
// Promises: clockNow() returns seconds on the steady clock, or on the function installed
// with audio::setClock (declared in audio.h). Never blocks, never allocates.
//
// Threads: clockNow may be called from any thread; setClock from the main thread while no
// system is initialised.
#pragma once

namespace audio {

double clockNow();
double steadySeconds();  // the steady clock itself, whatever clock is installed
bool clockIsSteady();    // no replacement clock is installed

}  // namespace audio
