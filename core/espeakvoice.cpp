// Placeholder so the tree links; the real voice replaces it.
#include "core/espeakvoice.h"

namespace mirelva {
struct EspeakVoice::Impl {};
EspeakVoice::EspeakVoice(const QString &, const QString &) : d(new Impl) {}
EspeakVoice::~EspeakVoice() { delete d; }
void EspeakVoice::play(const QString &, int) {}
} // namespace mirelva
