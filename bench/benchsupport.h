#pragma once

// What several benchmarks share.

#include <algorithm>
#include <vector>

#include <QString>

#include "core/speechvoice.h"

namespace mirelva::bench {

// A voice that speaks nowhere and at once: the benchmarks time the program,
// not the speech.
class SilentVoice : public SpeechVoice {
protected:
    void play(const QString &, int) override {}
};

// The median of a sample; 0 for none.
inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace mirelva::bench
