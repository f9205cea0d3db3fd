// Placeholder so the tree links; the real store replaces it.
#include "core/settingsstore.h"

namespace mirelva {
namespace SettingsStore {
QString folder() { return {}; }
QString pathOf(const QString &f) { return f; }
QString read(const QString &, const QString &, const QString &d, int) { return d; }
void write(const QString &, const QString &, const QString &) {}
} // namespace SettingsStore
namespace Convert {
qint64 number(const QString &t) { return t.toLongLong(); }
int checkFromText(const QString &t, int f) { bool ok; int v = t.toInt(&ok); return ok ? v : f; }
QString checkToText(int v) { return QString::number(v); }
bool optionFromText(const QString &, bool f) { return f; }
QString optionToText(bool on) { return on ? "True" : "False"; }
int integerFromText(const QString &t, int f) { bool ok; int v = t.toInt(&ok); return ok ? v : f; }
double twipsFromText(const QString &t, double f) { bool ok; double v = t.toDouble(&ok); return ok ? v : f; }
QString twipsToText(double t) { return QString::number(t); }
int twipsToPixels(double t, double dpi) { return int(t * dpi / 1440.0); }
double pixelsToTwips(int p, double dpi) { return p * 1440.0 / dpi; }
} // namespace Convert
QString IniFile::text(const QString &k, const QString &d) const { return SettingsStore::read(m_file, k, d, m_capacity); }
int IniFile::check(const QString &k, const QString &d) const { return Convert::checkFromText(text(k, d), d.toInt()); }
bool IniFile::option(const QString &k, const QString &d) const { return Convert::optionFromText(text(k, d), d == "1"); }
int IniFile::integer(const QString &k, const QString &d) const { return Convert::integerFromText(text(k, d), d.toInt()); }
double IniFile::twips(const QString &k, const QString &d) const { return Convert::twipsFromText(text(k, d), d.toDouble()); }
void IniFile::write(const QString &k, const QString &v) const { SettingsStore::write(m_file, k, v); }
void IniFile::writeCheck(const QString &k, int v) const { write(k, Convert::checkToText(v)); }
void IniFile::writeOption(const QString &k, bool on) const { write(k, Convert::optionToText(on)); }
} // namespace mirelva
