#pragma once

namespace mirelva::SpeechPause {

// SleepTTS blocks the thread on purpose; tests count the pauses instead of
// sitting through them.
void setSkippedForTests(bool skipped);
// Pauses asked for since the last reset, skipped or not.
int count();
void resetCount();

} // namespace mirelva::SpeechPause
