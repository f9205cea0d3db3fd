#include "node/radio/morse.h"

#include <algorithm>
#include <cmath>

namespace mirelva::radio {

const char *morseCode(QChar c)
{
    static const char *letters[] = {".-", "-...", "-.-.", "-..", ".", "..-.", "--.", "....", "..", ".---",
                                    "-.-", ".-..", "--", "-.", "---", ".--.", "--.-", ".-.", "...", "-",
                                    "..-", "...-", ".--", "-..-", "-.--", "--.."};
    static const char *digits[] = {"-----", ".----", "..---", "...--", "....-",
                                   ".....", "-....", "--...", "---..", "----."};
    const char16_t u = c.toUpper().unicode();
    if (u >= 'A' && u <= 'Z')
        return letters[u - 'A'];
    if (u >= '0' && u <= '9')
        return digits[u - '0'];
    switch (u) {
    case '.': return ".-.-.-";
    case ',': return "--..--";
    case '?': return "..--..";
    case '/': return "-..-.";
    case '=': return "-...-";
    default: return "";
    }
}

std::vector<float> renderMorse(const QString &text, int wpm, int pitchHz, float amplitude, int sampleRate)
{
    std::vector<float> out;
    if (wpm <= 0 || sampleRate <= 0)
        return out;
    const long unit = std::max(1L, std::lround(sampleRate * 1.2 / wpm));
    const long ramp = std::max(1L, std::min(std::lround(sampleRate * 0.005), unit / 3));
    const double w = 2 * M_PI * pitchHz / sampleRate;

    auto tone = [&](long units) {
        const long n = units * unit;
        for (long i = 0; i < n; ++i) {
            double env = 1;
            const long edge = std::min(i, n - 1 - i);
            if (edge < ramp)
                env = 0.5 - 0.5 * std::cos(M_PI * double(edge) / ramp);
            out.push_back(float(amplitude * env * std::sin(w * double(i))));
        }
    };
    auto gap = [&](long units) { out.insert(out.end(), size_t(units * unit), 0.0f); };

    int pendingGap = 0;   // units of silence owed before the next element
    for (const QString &word : text.split(' ', Qt::SkipEmptyParts)) {
        if (!out.empty())
            pendingGap = 7;
        for (QChar c : word) {
            const char *code = morseCode(c);
            if (!*code)
                continue;
            for (const char *e = code; *e; ++e) {
                gap(pendingGap);
                tone(*e == '-' ? 3 : 1);
                pendingGap = 1;
            }
            pendingGap = 3;
        }
    }
    return out;
}

} // namespace mirelva::radio
