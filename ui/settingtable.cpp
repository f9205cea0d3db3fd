#include "ui/settingtable.h"

#include <algorithm>

#include <QGroupBox>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTabWidget>

#include "ui/controls.h"
#include "core/settingsstore.h"

namespace mirelva::SettingTables {

QWidget *controlOf(const QWidget *window, const Setting &s)
{
    if (!s.onPage())
        return nullptr;
    return window->findChild<QWidget *>(s.control);
}

QString storedText(const QWidget *window, const Setting &s)
{
    QWidget *c = controlOf(window, s);
    switch (s.kind) {
    case Setting::Kind::Text:
        return static_cast<TextBox *>(c)->text();
    case Setting::Kind::Check:
        return Convert::checkToText(static_cast<CheckBox *>(c)->value());
    case Setting::Kind::Option:
        return Convert::optionToText(static_cast<OptionButton *>(c)->value());
    case Setting::Kind::Bar:
        return QString::number(static_cast<QScrollBar *>(c)->value());
    // A window with no place yet (a first start, never shown: headless)
    // stands nowhere the operator chose; its place is the one a first start
    // reads, not the corner of the screen.
    case Setting::Kind::WindowLeft:
        return hasPlace(window) ? Convert::twipsToText(leftInTwips(window)) : s.defaultText;
    case Setting::Kind::WindowTop:
        return hasPlace(window) ? Convert::twipsToText(topInTwips(window)) : s.defaultText;
    }
    return {};
}

void load(const IniFile &ini, QWidget *window, const SettingTable &table)
{
    for (const Setting &s : table) {
        QWidget *c = controlOf(window, s);
        switch (s.kind) {
        case Setting::Kind::Text:
            static_cast<TextBox *>(c)->setText(ini.text(s.key, s.defaultText));
            break;
        case Setting::Kind::Check:
            static_cast<CheckBox *>(c)->setValue(ini.check(s.key, s.defaultText));
            break;
        case Setting::Kind::Option:
            // In table order: of several stored on in one group the last stays on.
            static_cast<OptionButton *>(c)->setValue(ini.option(s.key, s.defaultText));
            break;
        case Setting::Kind::Bar: {
            // A value a file edited by hand puts beyond the bar goes to its
            // nearer end, so the voice never gets what it cannot take.
            auto *bar = static_cast<QScrollBar *>(c);
            bar->setValue(std::clamp(ini.integer(s.key, s.defaultText), bar->minimum(), bar->maximum()));
            break;
        }
        case Setting::Kind::WindowLeft:
        case Setting::Kind::WindowTop:
            break;
        }
    }
}

void save(const IniFile &ini, const QWidget *window, const SettingTable &table, const Override &override)
{
    IniFile::Save one(ini);
    const auto write = [&](const Setting &s) {
        std::optional<QString> text = override ? override(s) : std::nullopt;
        if (!text)
            text = s.savedUpperCase ? Convert::capitals(storedText(window, s)) : storedText(window, s);
        ini.write(s.key.toUpper(), *text);
    };
    for (const Setting &s : table) {
        if (!s.savedAfter.isEmpty())
            continue;
        write(s);
        for (const Setting &later : table)
            if (later.savedAfter.compare(s.key, Qt::CaseInsensitive) == 0)
                write(later);
    }
}

QString labelOf(const QWidget *window, const Setting &s)
{
    const QWidget *c = controlOf(window, s);
    if (!c)
        return s.key;
    if (!c->accessibleName().isEmpty())
        return c->accessibleName();
    if (const auto *b = qobject_cast<const QAbstractButton *>(c))
        return b->text();
    return s.control;
}

QString groupOf(const QWidget *window, const Setting &s)
{
    QStringList path;
    for (const QWidget *w = controlOf(window, s); w && w != window; w = w->parentWidget()) {
        if (const auto *frame = qobject_cast<const QGroupBox *>(w))
            path.prepend(frame->title().simplified());
        const auto *stack = qobject_cast<const QStackedWidget *>(w->parentWidget());
        if (const auto *tabs = stack ? qobject_cast<const QTabWidget *>(stack->parentWidget()) : nullptr)
            path.prepend(tabs->tabText(tabs->indexOf(const_cast<QWidget *>(w))).simplified());
    }
    return path.join(QStringLiteral(" / "));
}

QJsonObject describe(const QWidget *window, const Setting &s, int capacity)
{
    QWidget *c = controlOf(window, s);
    QJsonObject o{{QStringLiteral("key"), s.key},
                  {QStringLiteral("label"), labelOf(window, s)},
                  {QStringLiteral("meaning"), s.meaning},
                  {QStringLiteral("kind"), s.kind == Setting::Kind::Check    ? QStringLiteral("check")
                                           : s.kind == Setting::Kind::Option ? QStringLiteral("option")
                                           : s.kind == Setting::Kind::Bar    ? QStringLiteral("bar")
                                                                             : QStringLiteral("text")},
                  {QStringLiteral("value"), storedText(window, s)}};
    if (const auto *box = qobject_cast<const TextBox *>(c)) {
        o.insert(QStringLiteral("limit"), box->typingLimit() > 0 ? box->typingLimit() : capacity - 1);
        o.insert(QStringLiteral("digits"), box->digitsOnly());
        o.insert(QStringLiteral("upper"), box->upperCase());
        if (s.dtmfCode)
            o.insert(QStringLiteral("dtmf"), true);
        if (!s.emptyMeans.isEmpty())
            o.insert(QStringLiteral("empty"), s.emptyMeans);
    }
    if (s.hasRange()) {
        o.insert(QStringLiteral("least"), s.least);
        if (s.most != Setting::kNoMost)
            o.insert(QStringLiteral("most"), s.most);
    }
    if (const auto *bar = qobject_cast<const QScrollBar *>(c)) {
        o.insert(QStringLiteral("least"), bar->minimum());
        o.insert(QStringLiteral("most"), bar->maximum());
    }
    if (const auto *b = qobject_cast<const OptionButton *>(c))
        o.insert(QStringLiteral("group"), b->group() ? b->group()->objectName() : b->objectName());
    if (c && !c->isEnabled())
        o.insert(QStringLiteral("locked"), lockedBecause(c));
    return o;
}

QString refusal(const QWidget *window, const Setting &s, QString *value, int capacity)
{
    const QString name = labelOf(window, s);
    QString v = *value;
    // A control the window holds still is not changed behind its back (the
    // fan line under a running fan would stay raised for good).
    if (const QWidget *c = controlOf(window, s); c && !c->isEnabled())
        return QStringLiteral("%1: cannot be changed now: %2.").arg(name, lockedBecause(c));
    switch (s.kind) {
    case Setting::Kind::Text: {
        const auto *box = static_cast<const TextBox *>(controlOf(window, s));
        for (QChar c : v)
            if (c.category() == QChar::Other_Control)
                return QStringLiteral("%1: a setting holds no control characters or line breaks.").arg(name);
        for (char32_t u : v.toUcs4()) {
            const QString one = QString::fromUcs4(&u, 1);
            if (!SettingsStore::storable(one))
                return QStringLiteral("%1: \"%2\" cannot be kept in a settings file (Windows-1252 letters only).")
                    .arg(name, one);
        }
        // The box's own filter on typing: its limit, and digits 0 to 9.
        const auto characters = [](qsizetype n) {
            return n == 1 ? QStringLiteral("1 character") : QStringLiteral("%1 characters").arg(n);
        };
        if (box->typingLimit() > 0 && v.size() > box->typingLimit())
            return QStringLiteral("%1: at most %2.").arg(name, characters(box->typingLimit()));
        if (box->digitsOnly())
            for (QChar c : v)
                if (!c.isDigit() || c.unicode() > 127)
                    return QStringLiteral("%1: digits 0 to 9 only.").arg(name);
        // The file would give back less: it drops blanks at the ends and
        // one pair of quotes, double or single, around the whole text.
        const auto quoted = [&v](QChar q) { return v.size() >= 2 && v.startsWith(q) && v.endsWith(q); };
        if (v != v.trimmed() || quoted(QLatin1Char('"')) || quoted(QLatin1Char('\'')))
            return QStringLiteral("%1: no blanks at the start or end, and no quotes around the whole text (the "
                                  "settings file drops them).")
                .arg(name);
        if (v.size() > capacity - 1)
            return QStringLiteral("%1: at most %2 (the settings file keeps no more).").arg(name, characters(capacity - 1));
        // An emptied box is refilled by the window: the page takes it as that.
        if (v.isEmpty() && !s.emptyMeans.isEmpty())
            v = s.emptyMeans;
        if (s.hasRange() && !v.isEmpty() && (v.size() > 9 || v.toInt() < s.least || v.toInt() > s.most)) {
            const QString range = s.most == Setting::kNoMost
                                      ? QStringLiteral("a number from %1 up").arg(s.least)
                                      : QStringLiteral("a number from %1 to %2").arg(s.least).arg(s.most);
            return s.outOfRange.isEmpty() ? QStringLiteral("%1: %2.").arg(name, range)
                                          : QStringLiteral("%1: %2; %3.").arg(name, range, s.outOfRange);
        }
        if (box->upperCase())
            v = Convert::capitals(v);
        break;
    }
    case Setting::Kind::Check:
        // A hand ticks and clears; only a file greys a box.
        if (v != QLatin1String("0") && v != QLatin1String("1"))
            return QStringLiteral("%1: 1 to tick the box, 0 to clear it.").arg(name);
        break;
    case Setting::Kind::Option:
        // An option is turned off by turning another of its group on.
        if (v.compare(QLatin1String("True"), Qt::CaseInsensitive) != 0)
            return QStringLiteral("%1: an option is chosen by turning it on; choose another to turn it off.").arg(name);
        v = QStringLiteral("True");
        break;
    case Setting::Kind::Bar: {
        const auto *bar = static_cast<const QScrollBar *>(controlOf(window, s));
        bool ok = false;
        const int n = v.toInt(&ok);
        if (!ok || n < bar->minimum() || n > bar->maximum())
            return QStringLiteral("%1: a whole number from %2 to %3.").arg(name).arg(bar->minimum()).arg(bar->maximum());
        v = QString::number(n);
        break;
    }
    case Setting::Kind::WindowLeft:
    case Setting::Kind::WindowTop:
        return QStringLiteral("%1: the window's place is set by moving the window.").arg(name);
    }
    *value = v;
    return {};
}

void apply(QWidget *window, const Setting &s, const QString &value)
{
    QWidget *c = controlOf(window, s);
    switch (s.kind) {
    case Setting::Kind::Text:
        static_cast<TextBox *>(c)->setText(value);
        break;
    case Setting::Kind::Check:
        static_cast<CheckBox *>(c)->setValue(value.toInt());
        break;
    case Setting::Kind::Option:
        static_cast<OptionButton *>(c)->setValue(true);
        break;
    case Setting::Kind::Bar:
        static_cast<QScrollBar *>(c)->setValue(value.toInt());
        break;
    case Setting::Kind::WindowLeft:
    case Setting::Kind::WindowTop:
        break;
    }
}

} // namespace mirelva::SettingTables
