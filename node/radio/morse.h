#pragma once

#include <QStringList>

#include <vector>

namespace mirelva::radio {

// Text as Morse tones at `pitchHz` and `wpm` words per minute, by PARIS
// timing: a dot is one unit of 1.2/wpm s, a dash three, one unit between the
// elements of a character, three between characters, seven between words.
// Each element rises and falls over 5 ms (less at speeds where that would
// be over a third of a dot) on a raised cosine, so keying does not click.
// A-Z (any case), 0-9, . , ? / = and blanks; other characters are skipped.
// No silence before the first element or after the last.
std::vector<float> renderMorse(const QString &text, int wpm, int pitchHz, float amplitude, int sampleRate = 8000);

// The dots and dashes of one character ("" for one Morse has none of here).
const char *morseCode(QChar c);

} // namespace mirelva::radio
