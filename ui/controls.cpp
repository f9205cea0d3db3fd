#include "ui/controls.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <limits>

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QClipboard>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QFontMetrics>
#include <QMainWindow>
#include <QSet>
#include <QShortcut>
#include <QSizeGrip>
#include <QStackedWidget>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QGuiApplication>
#include <QHash>
#include <QKeyEvent>
#include <QPainter>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QTextCursor>
#include <QWindow>
#include <QValidator>

#include "core/clock.h"
#include "core/settingsstore.h"

namespace mirelva {

CheckBox::CheckBox(const QString &name, const QString &caption, QWidget *parent) : QCheckBox(caption, parent)
{
    setObjectName(name);
}

int CheckBox::value() const
{
    switch (checkState()) {
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    default: return 0;
    }
}

void CheckBox::setValue(int v)
{
    setCheckState(v == 1 ? Qt::Checked : v == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

void CheckBox::nextCheckState() { setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked); }

namespace {

// Option buttons are not auto-exclusive (a group may have none on), and Qt
// reports a non-exclusive checkable button as a check box. A screen reader
// must hear them as what they are: radio buttons, one of a pair.
class OptionButtonAccessible : public QAccessibleWidget {
public:
    explicit OptionButtonAccessible(QWidget *w) : QAccessibleWidget(w, QAccessible::RadioButton) {}
    OptionButton *button() const { return static_cast<OptionButton *>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name) {
            QString name = widget()->accessibleName();
            if (name.isEmpty())
                name = button()->text();
            return name.remove(QLatin1Char('&'));
        }
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State st = QAccessibleWidget::state();
        st.checkable = true;
        st.checked = button()->isChecked();
        return st;
    }
    QStringList actionNames() const override
    {
        QStringList names;
        if (widget()->isEnabled())
            names << pressAction();
        return names + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &action) override
    {
        if (!widget()->isEnabled())
            return;
        if (action == pressAction())
            button()->click();
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface *optionButtonFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("mirelva::OptionButton") && object && object->isWidgetType())
        return new OptionButtonAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

const QString kNoticeName = QStringLiteral("ScreenReaderNotice");

// The live notices of one window, oldest first. A notice is told, kept a
// while for a busy screen reader, and let go from the front, so telling one
// costs the same however many came before it.
class NoticeShelf : public QObject {
public:
    explicit NoticeShelf(QWidget *window) : QObject(window), m_window(window) { shelves().insert(window, this); }
    ~NoticeShelf() override { shelves().remove(m_window); }
    static NoticeShelf &of(QWidget *window)
    {
        NoticeShelf *shelf = shelves().value(window);
        return shelf ? *shelf : *new NoticeShelf(window);
    }
    std::deque<QPointer<ScreenReaderNotice>> live;

private:
    static QHash<const QObject *, NoticeShelf *> &shelves()
    {
        static QHash<const QObject *, NoticeShelf *> all;
        return all;
    }
    const QObject *m_window;
};

// A value label to a screen reader: its caption as its name, its value as its
// description and as its text (which a screen reader's review of the screen
// reads), laid out as the label shows it.
class ValueLabelAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ValueLabelAccessible(ValueLabel *label) : QAccessibleWidget(label, QAccessible::StaticText) {}
    ValueLabel *label() const { return static_cast<ValueLabel *>(widget()); }

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name) {
            const QString caption = widget()->accessibleName();
            return caption.isEmpty() ? label()->spokenValue() : caption;
        }
        if (t == QAccessible::Description)
            return label()->spokenValue();
        return QAccessibleWidget::text(t);
    }

    QString text(int startOffset, int endOffset) const override
    {
        const QString value = label()->spokenValue();
        startOffset = std::clamp(startOffset, 0, int(value.size()));
        endOffset = endOffset < 0 ? int(value.size()) : std::clamp(endOffset, startOffset, int(value.size()));
        return value.mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(label()->spokenValue().size()); }
    QRect characterRect(int offset) const override
    {
        const Lines lines = layOut();
        if (lines.spoken)
            return lines.area;
        int at = 0;
        for (int n = 0; n < lines.texts.size(); ++n) {
            const QString &line = lines.texts[n];
            if (offset <= at + line.size()) {
                const int col = offset - at;
                const int x = lines.x[n] + lines.metrics.horizontalAdvance(line.left(col));
                const int w = col < line.size() ? lines.metrics.horizontalAdvance(line.at(col)) : 1;
                return QRect(label()->mapToGlobal(QPoint(x, lines.top + n * lines.metrics.lineSpacing())),
                             QSize(w, lines.metrics.height()));
            }
            at += int(line.size()) + 1;
        }
        return {};
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        const Lines lines = layOut();
        if (lines.spoken || lines.texts.isEmpty())
            return lines.area.contains(point) ? 0 : -1;
        const QPoint p = label()->mapFromGlobal(point);
        const int n = std::clamp((p.y() - lines.top) / std::max(1, lines.metrics.lineSpacing()), 0,
                                 int(lines.texts.size()) - 1);
        int at = 0;
        for (int i = 0; i < n; ++i)
            at += int(lines.texts[i].size()) + 1;
        const QString &line = lines.texts[n];
        for (int col = 0; col < line.size(); ++col)
            if (lines.x[n] + lines.metrics.horizontalAdvance(line.left(col + 1)) > p.x())
                return at + col;
        return at + int(line.size());
    }
    // Nothing is selected or edited in a value; the caret stays at its start.
    void selection(int, int *startOffset, int *endOffset) const override
    {
        if (startOffset)
            *startOffset = 0;
        if (endOffset)
            *endOffset = 0;
    }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int *startOffset, int *endOffset) const override
    {
        selection(0, startOffset, nullptr);
        if (endOffset)
            *endOffset = characterCount();
        return {};
    }

private:
    // Where the lines of the value stand in the label, as it aligns them;
    // a spoken value that is not on screen stands for the whole label.
    struct Lines {
        QFontMetrics metrics;
        QStringList texts;
        QList<int> x;
        int top = 0;
        bool spoken = false;
        QRect area;
    };
    Lines layOut() const
    {
        const ValueLabel *l = label();
        Lines lines{l->fontMetrics(), {}, {}, 0, false, QRect(l->mapToGlobal(QPoint(0, 0)), l->size())};
        const QString value = l->spokenValue();
        if (value != l->text()) {
            lines.spoken = true;
            return lines;
        }
        lines.texts = value.split(QLatin1Char('\n'));
        const QRect box = l->contentsRect();
        const Qt::Alignment align = QStyle::visualAlignment(l->layoutDirection(), l->alignment());
        const int height = int(lines.texts.size()) * lines.metrics.lineSpacing();
        lines.top = align & Qt::AlignTop      ? box.top()
                    : align & Qt::AlignBottom ? box.bottom() + 1 - height
                                              : box.top() + (box.height() - height) / 2;
        for (const QString &line : lines.texts) {
            const int width = lines.metrics.horizontalAdvance(line);
            lines.x << (align & Qt::AlignRight     ? box.right() + 1 - width
                        : align & Qt::AlignHCenter ? box.left() + (box.width() - width) / 2
                                                   : box.left());
        }
        return lines;
    }
};

// A window of the program's own that is no main window or dialog is a
// frame to a screen reader, announced as a window (Qt reports a bare
// top-level widget as a "filler"); a window's notice is a notification.
QAccessibleInterface *windowFactory(const QString &className, QObject *object)
{
    if (!object || !object->isWidgetType() || className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    auto *w = static_cast<QWidget *>(object);
    if (qobject_cast<ScreenReaderNotice *>(w))
        return new QAccessibleWidget(w, QAccessible::Notification);
    if (auto *label = qobject_cast<ValueLabel *>(w))
        return new ValueLabelAccessible(label);
    if (w->isWindow() && className.startsWith(QLatin1String("mirelva::")) && !qobject_cast<QMainWindow *>(w)
        && !qobject_cast<QDialog *>(w))
        return new QAccessibleWidget(w, QAccessible::Window);
    return nullptr;
}

void installWindowFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(windowFactory);
        return true;
    }();
    Q_UNUSED(installed);
}
// Before any window is built, so no window's interface is made without it.
Q_COREAPP_STARTUP_FUNCTION(installWindowFactory)

// An Alt letter is meant for a button's mnemonic. Where no button shown takes
// it (its button is on a tab page out of view), Qt would type the letter into
// the focused box, and a setting would change by a key meant for a button:
// such a key does nothing instead, in every window. AltGr (group switch)
// still types, and keys without text (Alt and an arrow) pass on.
class AltLetterGuard : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() != QEvent::KeyPress || !takesText(o))
            return false;
        const auto *k = static_cast<const QKeyEvent *>(e);
        const Qt::KeyboardModifiers mods = k->modifiers();
        if (!(mods & Qt::AltModifier) || (mods & (Qt::ControlModifier | Qt::MetaModifier | Qt::GroupSwitchModifier))
            || k->text().isEmpty() || !k->text().front().isPrint())
            return false;
        e->accept();
        return true;
    }

private:
    static bool takesText(const QObject *o)
    {
        return qobject_cast<const QLineEdit *>(o) || qobject_cast<const QPlainTextEdit *>(o)
            || qobject_cast<const QTextEdit *>(o) || qobject_cast<const QAbstractSpinBox *>(o)
            || qobject_cast<const QComboBox *>(o);
    }
};

void installAltLetterGuard()
{
    QCoreApplication *app = QCoreApplication::instance();
    app->installEventFilter(new AltLetterGuard(app));
}
Q_COREAPP_STARTUP_FUNCTION(installAltLetterGuard)

} // namespace

OptionButton::OptionButton(const QString &name, const QString &caption, OptionGroup *group, QWidget *parent)
    : QRadioButton(caption, parent), m_group(group)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(optionButtonFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setObjectName(name);
    setAutoExclusive(false);
    if (m_group)
        m_group->add(this);
}

void OptionButton::setValue(bool on)
{
    if (on && m_group) {
        for (OptionButton *b : m_group->buttons())
            if (b != this && b->isChecked())
                b->setChecked(false);
    }
    setChecked(on);
}

void OptionButton::nextCheckState()
{
    // Clicking a selected option leaves it selected, as option buttons do.
    setValue(true);
}

namespace {
class TypingValidator : public QValidator {
public:
    TypingValidator(int limit, bool digits, QLineEdit *box)
        : QValidator(box), m_limit(limit), m_digits(digits), m_box(box) {}

    State validate(QString &input, int &pos) const override
    {
        if (m_limit > 0 && input.size() > m_limit) {
            // Text the program sets (it leaves no undo step) is never
            // refused or cut. An edit too long for the limit is cut where
            // what was put in ends, so a paste of a long text keeps its
            // start instead of being refused whole; a key typed into a full
            // box is still refused, in effect.
            if (!m_box->isUndoAvailable())
                return Invalid;
            const qsizetype excess = input.size() - m_limit;
            if (pos >= excess) {
                input.remove(pos - excess, excess);
                pos -= int(excess);
            } else {
                input.truncate(m_limit);
                pos = std::min(pos, m_limit);
            }
        }
        if (m_digits)
            for (QChar c : input)
                if (!c.isDigit() || c.unicode() > 127)
                    return Invalid;
        return Acceptable;
    }

private:
    int m_limit;
    bool m_digits;
    QLineEdit *m_box;
};
} // namespace

TextBox::TextBox(const QString &name, QWidget *parent) : QLineEdit(parent)
{
    setObjectName(name);
    // Connected before any change handler, so a handler already sees capitals.
    connect(this, &QLineEdit::textChanged, this, &TextBox::keepUpperCase);
}

// A callsign box shows capitals however its text came: typed, pasted from the
// context menu, dropped, or read from a settings file edited by hand. Lower
// case in it would make a station look unconnected to the codes that ask.
void TextBox::keepUpperCase()
{
    const QString t = text();
    const QString upper = Convert::capitals(t);
    if (!m_upper || upper == t)
        return;
    const int pos = cursorPosition();
    setText(upper);
    setCursorPosition(std::min<int>(pos, int(upper.size())));
}

void TextBox::setTypingLimit(int chars)
{
    m_limit = chars;
    updateValidator();
}

void TextBox::setDigitsOnly(bool on)
{
    if (m_digits == on)
        return;
    m_digits = on;
    updateValidator();
}

void TextBox::setUpperCase(bool on)
{
    if (m_upper == on)
        return;
    m_upper = on;
    keepUpperCase();
}

// Typed letters become capitals as they are typed, so the caret stays where
// the hand left it.
void TextBox::keyPressEvent(QKeyEvent *event)
{
    const QString typed = event->text();
    if (m_upper && typed != Convert::capitals(typed)) {
        QKeyEvent upper(event->type(), event->key(), event->modifiers(), Convert::capitals(typed), event->isAutoRepeat(),
                        ushort(event->count()));
        QLineEdit::keyPressEvent(&upper);
        event->setAccepted(upper.isAccepted());
        return;
    }
    if (m_upper && event->matches(QKeySequence::Paste)) {
        insert(Convert::capitals(QGuiApplication::clipboard()->text()));
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TextBox::updateValidator()
{
    const QValidator *old = validator();
    if (m_limit > 0 || m_digits)
        setValidator(new TypingValidator(m_limit, m_digits, this));
    else
        setValidator(nullptr);
    delete old;
}

qint64 TextBox::number() const { return Convert::number(text()); }

LogBox::LogBox(const QString &name, QWidget *parent) : QPlainTextEdit(parent)
{
    setObjectName(name);
    setUndoRedoEnabled(false);
    setTabChangesFocus(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void LogBox::appendLine(const QString &line)
{
    QString text = line;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(text + QLatin1Char('\n'));
    // Every line ends with a line break, so an empty block follows the last.
    // The oldest lines go a thousand at a time.
    const int extra = document()->blockCount() - 1 - kMostLines;
    if (extra >= kTrimStep) {
        QTextCursor oldest(document());
        oldest.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, extra);
        oldest.removeSelectedText();
    }
}

void LogBox::placeCaret(int position)
{
    QTextCursor caret(document());
    const int length = document()->characterCount() - 1;
    caret.setPosition(std::clamp(position, 0, length));
    setTextCursor(caret);
}

qint64 labelNumber(const QLabel *label) { return Convert::number(label->text()); }

void setLabelNumber(QLabel *label, qint64 value) { label->setText(QString::number(value)); }

void setColouredCaption(QLabel *label, const QString &caption, unsigned vbColour)
{
    // Colours are written the Windows way, 0x00BBGGRR.
    const QColor c(int(vbColour & 0xFF), int((vbColour >> 8) & 0xFF), int((vbColour >> 16) & 0xFF));
    label->setText(caption);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, c);
    label->setPalette(p);
}

ScreenReaderNotices &ScreenReaderNotices::instance()
{
    static ScreenReaderNotices notices;
    return notices;
}

void tellScreenReader(QWidget *window, const QString &text)
{
    if (!window || text.trimmed().isEmpty())
        return;
    window = window->window();
    installWindowFactory();
    // The zone-free clock: a notice a line must not cost a look at the
    // local time zone.
    const qint64 now = Clock::nowMs();
    // The notices of the last minute stay, so none is gone before a screen
    // reader, however busy, has asked for its name, unless a flood of them
    // has come meanwhile; a clock set back lets them go too. The oldest are
    // at the front, so only they are looked at.
    std::deque<QPointer<ScreenReaderNotice>> &live = NoticeShelf::of(window).live;
    auto spent = [&](const ScreenReaderNotice *old) {
        if (!old)
            return true;
        const qint64 age = now - old->toldAtMs;
        return age < 0 || age >= kNoticeLifeSeconds * 1000LL || live.size() >= size_t(kMostNotices);
    };
    while (!live.empty() && spent(live.front())) {
        delete live.front();
        live.pop_front();
    }
    // A pixel in the corner, painting nothing and taking no focus, named
    // before it is shown: a screen reader speaks a notification only while it
    // is showing.
    auto *notice = new ScreenReaderNotice(window);
    notice->setObjectName(kNoticeName);
    notice->toldAtMs = now;
    notice->setAccessibleName(text.simplified());
    notice->setGeometry(0, 0, 1, 1);
    notice->setAttribute(Qt::WA_TransparentForMouseEvents);
    notice->setFocusPolicy(Qt::NoFocus);
    live.push_back(notice);
    // Shown within a shown window, it says so itself; within a hidden one it
    // is told all the same.
    notice->show();
    if (!notice->isVisible()) {
        QAccessibleEvent shown(notice, QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&shown);
    }
    emit ScreenReaderNotices::instance().told(window, notice->accessibleName());
}

namespace {

const char *const kIndicatorWaiting = "mirelvaNoticeWaiting";
const char *const kIndicatorTold = "mirelvaNoticeTold";

class WaitingIndicators : public QObject {
public:
    // The indicators with a notice waiting, in the order they changed.
    QList<QPointer<QWidget>> order;
    void tellOnceSettled()
    {
        if (m_hooked)
            return;
        if (QAbstractEventDispatcher *dispatcher = QCoreApplication::eventDispatcher()) {
            connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &tellIndicatorsNow);
            m_hooked = true;
        }
    }

private:
    bool m_hooked = false;
};

WaitingIndicators &waitingIndicators()
{
    static WaitingIndicators waiting;
    return waiting;
}

} // namespace

void tellIndicator(QWidget *indicator, const QString &text)
{
    WaitingIndicators &waiting = waitingIndicators();
    indicator->setProperty(kIndicatorWaiting, text);
    if (!waiting.order.contains(indicator))
        waiting.order.append(indicator);
    waiting.tellOnceSettled();
}

void tellIndicatorsNow()
{
    const QList<QPointer<QWidget>> order = std::exchange(waitingIndicators().order, {});
    for (const QPointer<QWidget> &indicator : order) {
        if (!indicator)
            continue;
        const QString text = indicator->property(kIndicatorWaiting).toString();
        if (text == indicator->property(kIndicatorTold).toString())
            continue;
        indicator->setProperty(kIndicatorTold, text);
        tellScreenReader(indicator, text);
    }
}

namespace {
const QString kReceivingText = QStringLiteral("Receiving Signal");
const QString kNotReceivingText = QStringLiteral("      ");
const QString kReceivingValue = QStringLiteral("receiving signal");
const QString kNotReceivingValue = QStringLiteral("no signal");
} // namespace

bool showReceiving(QLabel *label, bool receiving)
{
    const QString &text = receiving ? kReceivingText : kNotReceivingText;
    const QString &value = receiving ? kReceivingValue : kNotReceivingValue;
    auto *shown = qobject_cast<ValueLabel *>(label);
    if (label->text() == text && (!shown || shown->spokenValue() == value))
        return false;
    label->setText(text);
    if (shown)
        shown->setSpokenValue(value);
    return true;
}

QString receiverNotice(const QLabel *label)
{
    return QStringLiteral("Receiver: ")
           + (label->text() == kReceivingText ? kReceivingValue : kNotReceivingValue);
}

void giveKeyboardAccess(QWidget *window)
{
    const auto buttons = window->findChildren<QPushButton *>();
    // Letters the window's other mnemonics (tabs, captions) already take.
    QSet<QChar> taken;
    const auto takenIn = [&taken](const QString &text) {
        for (qsizetype i = text.indexOf(QLatin1Char('&')); i >= 0 && i + 1 < text.size();
             i = text.indexOf(QLatin1Char('&'), i + 2))
            if (text[i + 1] != QLatin1Char('&'))
                taken.insert(text[i + 1].toLower());
    };
    for (QPushButton *b : buttons)
        takenIn(b->text());
    for (auto *l : window->findChildren<QLabel *>())
        if (l->buddy())
            takenIn(l->text());
    for (auto *b : window->findChildren<QAbstractButton *>())
        if (!qobject_cast<QPushButton *>(b))
            takenIn(b->text());
    // Each button's letters, the first letters of its words first. Letters
    // are matched to buttons so that as many as can have one (a button
    // whose letters all went to others takes one from a button that has
    // another to spare), in the buttons' order.
    QList<QPushButton *> open;
    QList<QList<qsizetype>> choices;
    for (QPushButton *b : buttons) {
        const QString text = b->text();
        if (text.isEmpty() || text.contains(QLatin1Char('&')))
            continue;
        QList<qsizetype> first, rest;
        QSet<QChar> seen;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i].toLower();
            if (!text[i].isLetterOrNumber() || taken.contains(c) || seen.contains(c))
                continue;
            seen.insert(c);
            (i == 0 || !text[i - 1].isLetterOrNumber() ? first : rest) << i;
        }
        open << b;
        choices << first + rest;
    }
    QHash<QChar, int> holder;   // letter -> index into open
    QList<qsizetype> at(open.size(), -1);
    std::function<bool(int, QSet<QChar> &)> place = [&](int n, QSet<QChar> &tried) {
        for (qsizetype i : choices[n]) {
            const QChar c = open[n]->text()[i].toLower();
            if (tried.contains(c))
                continue;
            tried.insert(c);
            const auto other = holder.constFind(c);
            if (other == holder.cend() || place(*other, tried)) {
                holder[c] = n;
                at[n] = i;
                return true;
            }
        }
        return false;
    };
    for (int n = 0; n < open.size(); ++n) {
        QSet<QChar> tried;
        place(n, tried);
    }
    for (int n = 0; n < open.size(); ++n) {
        if (at[n] < 0)
            continue;
        QPushButton *b = open[n];
        const QString text = b->text();
        // The spoken name stays the words alone.
        if (b->accessibleName().isEmpty())
            b->setAccessibleName(text.simplified());
        b->setText(text.left(at[n]) + QLatin1Char('&') + text.mid(at[n]));
    }

    // The window opens with the focus in its first control, which a screen
    // reader reads, not in the tab panel around it, which it reads as a
    // nameless "filler".
    for (QWidget *w = window->nextInFocusChain(); w && w != window; w = w->nextInFocusChain())
        if ((qobject_cast<QLineEdit *>(w) || qobject_cast<QAbstractButton *>(w) || qobject_cast<QPlainTextEdit *>(w)
             || qobject_cast<QAbstractSlider *>(w))
            && !qobject_cast<QTabBar *>(w->parentWidget()) && w->isEnabled() && w->isVisibleTo(window)
            && (w->focusPolicy() & Qt::TabFocus)) {
            w->setFocus(Qt::OtherFocusReason);
            break;
        }

    QList<QPushButton *> hide;
    for (QPushButton *b : buttons)
        if (b->text().remove(QLatin1Char('&')) == QLatin1String("Hide"))
            hide << b;
    if (hide.isEmpty())
        return;
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    escape->setObjectName(QStringLiteral("HideOnEscape"));
    QObject::connect(escape, &QShortcut::activated, window, [hide] {
        // The "Hide" of the page in view, which does what every "Hide" does.
        for (QPushButton *b : hide)
            if (b && b->isVisible()) {
                b->click();
                return;
            }
    });
}

namespace {

// A tab panel's pages stand in a stack of Qt's own, which a screen reader
// would otherwise read, each time the focus comes back to the window, as a
// nameless "layered pane": it is named by the page in front.
void nameTabStacks(QWidget *root)
{
    for (QTabWidget *tabs : root->findChildren<QTabWidget *>()) {
        auto *stack = tabs->findChild<QStackedWidget *>(QString(), Qt::FindDirectChildrenOnly);
        if (!stack || !stack->accessibleName().isEmpty())
            continue;
        const auto name = [tabs, stack] {
            stack->setAccessibleName(tabs->tabText(tabs->currentIndex()).remove(QLatin1Char('&')).simplified());
        };
        name();
        QObject::connect(tabs, &QTabWidget::currentChanged, stack, name);
    }
    // The corner a window is resized by, in a status bar; Qt gives it no
    // name and a role no screen reader knows.
    for (QSizeGrip *grip : root->findChildren<QSizeGrip *>())
        if (grip->accessibleName().isEmpty())
            grip->setAccessibleName(QStringLiteral("Window size grip"));
}

} // namespace

void applyAccessibleNames(QWidget *root)
{
    installWindowFactory();
    nameTabStacks(root);
    const auto widgets = root->findChildren<QWidget *>();
    for (QWidget *w : widgets)
        if (w->accessibleDescription().isEmpty() && !w->toolTip().isEmpty())
            w->setAccessibleDescription(w->toolTip());
    QHash<const QWidget *, QString> buddyCaptions;
    for (QWidget *w : widgets)
        if (auto *l = qobject_cast<QLabel *>(w); l && l->buddy() && !buddyCaptions.contains(l->buddy()))
            buddyCaptions.insert(l->buddy(), l->text());
    for (QWidget *w : widgets) {
        if (!w->accessibleName().isEmpty())
            continue;
        QString name;
        if (auto *b = qobject_cast<QAbstractButton *>(w))
            name = b->text();
        else if (auto *g = qobject_cast<QGroupBox *>(w))
            name = g->title();
        if (name.trimmed().isEmpty())
            name = w->toolTip();
        // A box described by a label that names it as its buddy.
        if (name.trimmed().isEmpty())
            name = buddyCaptions.value(w);
        name.remove(QLatin1Char('&'));
        name = name.simplified();
        // "DTMF:" is read out better as "DTMF".
        while (name.endsWith(QLatin1Char(':')))
            name.chop(1);
        if (!name.isEmpty()) {
            w->setAccessibleName(name.trimmed());
        }
    }
}

// ---- building a form ---------------------------------------------------------

void setLocked(QWidget *control, bool locked, const QString &why)
{
    control->setEnabled(!locked);
    control->setProperty("mirelvaLockedBecause", locked ? why : QString());
}

QString lockedBecause(const QWidget *control)
{
    const QString why = control->property("mirelvaLockedBecause").toString();
    return why.isEmpty() ? QStringLiteral("the window holds it unchangeable now") : why;
}

void tie(QLabel *label, QWidget *box)
{
    label->setBuddy(box);
    if (box->accessibleName().isEmpty())
        box->setAccessibleName(label->text().simplified());
}

QLabel *captionFor(QWidget *parent, const QString &text, QWidget *buddy)
{
    auto *l = new QLabel(text, parent);
    if (buddy)
        tie(l, buddy);
    return l;
}

ValueLabel::ValueLabel(const QString &text, QWidget *parent, Sizing sizing)
    : QLabel(text, parent), m_sizing(sizing), m_toldValue(text)
{
    installWindowFactory();
    if (m_sizing != Sizing::KeepsWidest)
        return;
    // Room for six digits from the start, as countdowns need.
    const QSize hint = QLabel::sizeHint();
    setFixedSize(std::max(hint.width(), fontMetrics().horizontalAdvance(QStringLiteral("000000"))), hint.height());
}

QString ValueLabel::spokenValue() const { return m_spokenValue.isEmpty() ? text() : m_spokenValue; }

void ValueLabel::setSpokenValue(const QString &value)
{
    if (m_spokenValue == value)
        return;
    m_spokenValue = value;
    update();
}

// A screen reader hears of a new value as it is shown, once however often it
// was set meanwhile. (The label sends nothing itself: a label with a name
// of its own tells no change of text.)
void ValueLabel::tellValueIfChanged()
{
    const QString value = spokenValue();
    if (value == m_toldValue)
        return;
    m_toldValue = value;
    QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&changed);
    emit ScreenReaderNotices::instance().valueShown(this, value);
}

void ValueLabel::paintEvent(QPaintEvent *e)
{
    if (m_takingBackdrop)
        return;
    if (!m_backdrop.isNull())
        QPainter(this).drawPixmap(0, 0, m_backdrop);
    else
        QMetaObject::invokeMethod(this, &ValueLabel::takeBackdrop, Qt::QueuedConnection);
    QLabel::paintEvent(e);
    tellValueIfChanged();
    // A text wider than any before widens the label once, after this paint:
    // a size changed inside a paint would be laid out in the middle of it.
    const QSize hint = QLabel::sizeHint();
    if (m_sizing == Sizing::KeepsWidest && (hint.width() > width() || hint.height() > height()))
        QMetaObject::invokeMethod(this, &ValueLabel::fitText, Qt::QueuedConnection);
}

void ValueLabel::changeEvent(QEvent *e)
{
    QLabel::changeEvent(e);
    if ((e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange) && m_sizing == Sizing::KeepsWidest)
        fitText();
    if (e->type() == QEvent::StyleChange || e->type() == QEvent::PaletteChange || e->type() == QEvent::EnabledChange
        || e->type() == QEvent::ParentChange)
        dropBackdrop();
}

void ValueLabel::moveEvent(QMoveEvent *e)
{
    QLabel::moveEvent(e);
    dropBackdrop();
}

void ValueLabel::resizeEvent(QResizeEvent *e)
{
    QLabel::resizeEvent(e);
    dropBackdrop();
}

bool ValueLabel::eventFilter(QObject *, QEvent *e)
{
    switch (e->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::StyleChange:
    case QEvent::PaletteChange:
    case QEvent::EnabledChange:
    case QEvent::ActivationChange:
        dropBackdrop();
        break;
    default:
        break;
    }
    return false;
}

void ValueLabel::takeBackdrop()
{
    if (!m_backdrop.isNull() || !isVisible())
        return;
    QWidget *top = window();
    if (!m_watchingBeneath) {
        for (QWidget *w = parentWidget(); w; w = w->isWindow() ? nullptr : w->parentWidget())
            w->installEventFilter(this);
        m_watchingBeneath = true;
    }
    const qreal ratio = devicePixelRatioF();
    QPixmap backdrop(size() * ratio);
    backdrop.setDevicePixelRatio(ratio);
    backdrop.fill(Qt::transparent);
    // The window paints that rectangle as it would on screen, the label
    // itself adding nothing.
    m_takingBackdrop = true;
    top->render(&backdrop, QPoint(), QRegion(QRect(mapTo(top, QPoint(0, 0)), size())),
                QWidget::DrawWindowBackground | QWidget::DrawChildren);
    m_takingBackdrop = false;
    m_backdrop = backdrop;
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

void ValueLabel::dropBackdrop()
{
    if (m_backdrop.isNull())
        return;
    m_backdrop = QPixmap();
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    update();
}

void ValueLabel::fitText()
{
    const QSize hint = QLabel::sizeHint();
    const QSize grown(std::max(hint.width(), minimumWidth()), std::max(hint.height(), minimumHeight()));
    if (grown != minimumSize())
        setFixedSize(grown);
}

QLabel *valueLabel(QWidget *parent, const QString &name, const QString &text, const QString &caption)
{
    auto *l = new ValueLabel(text, parent);
    l->setObjectName(name);
    l->setAccessibleName(caption);
    return l;
}

TextBox *textBox(QWidget *parent, const QString &name, const QString &text, const QString &tip, BoxStyle style)
{
    auto *b = new TextBox(name, parent);
    b->setText(text);
    if (!tip.isEmpty())
        b->setToolTip(tip);
    b->setTypingLimit(style.limit);
    b->setDigitsOnly(style.digits);
    b->setUpperCase(style.upper);
    if (style.width > 0)
        b->setFixedWidth(b->fontMetrics().horizontalAdvance(QString(style.width + 2, QLatin1Char('0'))) + 12);
    return b;
}

CheckBox *checkBox(QWidget *parent, const QString &name, const QString &caption, const QString &tip)
{
    auto *c = new CheckBox(name, caption, parent);
    if (!tip.isEmpty())
        c->setToolTip(tip);
    return c;
}

QPushButton *button(QWidget *parent, const QString &name, const QString &caption, const QString &tip)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    if (!tip.isEmpty())
        b->setToolTip(tip);
    return b;
}

QGroupBox *frame(QWidget *parent, const QString &name, const QString &title)
{
    auto *g = new QGroupBox(title, parent);
    g->setObjectName(name);
    return g;
}

// ---- window position -----------------------------------------------------------

namespace {

// The part of a window the operator needs on a screen to grab and move it:
// the height of a title bar, and this much of its width.
constexpr int kTitleBarHeight = 24;
constexpr int kGrabWidth = 100;

// Until the window manager has framed a window nobody knows how big its frame
// is, and X places the inside of a window created before it was moved at the
// point asked for, leaving the frame above and to the left of it; saved from
// there, every save and start would creep up and left by the title bar. So
// the frame's place is checked once more when the window is first shown on
// the screen, framed, and put right.
class FramePlacer : public QObject {
public:
    FramePlacer(QWidget *window, const QPoint &at) : QObject(window), m_window(window), m_at(at)
    {
        setObjectName(QStringLiteral("FramePlacer"));
        window->installEventFilter(this);
    }
    void setPoint(const QPoint &at) { m_at = at; }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::Show) {
            // The native window exists from here on; its first exposure comes
            // once the window manager has framed and mapped it.
            if (QWindow *handle = m_window->windowHandle(); handle && handle != m_handle) {
                m_handle = handle;
                handle->installEventFilter(this);
            }
        } else if (watched == m_handle && event->type() == QEvent::Expose && m_handle->isExposed()) {
            m_handle->removeEventFilter(this);
            m_window->removeEventFilter(this);
            fitFramed();
            deleteLater();
        }
        return false;
    }

private:
    // The frame as the window manager drew it is known only now: its title
    // bar and borders, and the size the window came up at. It goes to the
    // point asked for, and is fitted on the screen once more.
    void fitFramed();

public:

private:
    QWidget *m_window;
    QPointer<QWindow> m_handle;
    QPoint m_at;
};

qint64 distance2(const QPoint &p, const QRect &r)
{
    const auto gap = [](qint64 v, qint64 lo, qint64 hi) { return v < lo ? lo - v : v > hi ? v - hi : 0; };
    const qint64 dx = gap(p.x(), r.left(), r.right());
    const qint64 dy = gap(p.y(), r.top(), r.bottom());
    return dx * dx + dy * dy;
}

} // namespace

namespace {

QList<QRect> availableScreens()
{
    QList<QRect> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens << screen->availableGeometry();
    return screens;
}

// What the window manager added around a window it has framed; nothing
// before then.
QMargins decorationOf(const QWidget *window)
{
    if (!window->isVisible())
        return {};
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
            outer.bottom() - inner.bottom()};
}

const char *const kPlaced = "mirelvaPlaced";

// Puts the window's frame at `frame`, at the frame's size.
void putFrame(QWidget *window, const QRect &frame, const QMargins &decoration)
{
    if (const QSize inside = frame.size().shrunkBy(decoration); inside != window->size())
        window->resize(inside);
    moveFrameTo(window, frame.topLeft());
    window->setProperty(kPlaced, true);
}

// Size hints before the window is styled are not those it is shown with
// (its frames' titles and fonts come with the style).
QSize leastFrameOf(QWidget *window, const QMargins &decoration)
{
    window->ensurePolished();
    return window->minimumSizeHint().expandedTo(window->minimumSize()).grownBy(decoration);
}

// The size a window comes up at: the size it was given (never given one, the
// size its contents ask for), grown to what its layout needs, as Qt grows
// it when it is shown.
QSize shownSize(QWidget *window)
{
    window->ensurePolished();
    QSize size = window->size();
    if (const QSize hint = window->sizeHint(); !window->testAttribute(Qt::WA_Resized) && hint.isValid())
        size = hint;
    return size.expandedTo(window->minimumSizeHint())
        .expandedTo(window->minimumSize())
        .boundedTo(window->maximumSize());
}

// The screen that shows most of a frame, else the one nearest to a point of
// it (a frame off every screen). Screens must not be empty.
QRect screenShowing(const QRect &frame, const QPoint &point, const QList<QRect> &screens)
{
    QRect avail;
    qint64 most = 0;
    for (const QRect &s : screens) {
        const QRect seen = frame.intersected(s);
        if (const qint64 area = qint64(seen.width()) * seen.height(); !seen.isEmpty() && area > most) {
            most = area;
            avail = s;
        }
    }
    if (avail.isNull()) {
        qint64 best = std::numeric_limits<qint64>::max();
        for (const QRect &s : screens)
            if (const qint64 d = distance2(point, s); d < best) {
                best = d;
                avail = s;
            }
    }
    return avail;
}

} // namespace

QRect fitOnScreen(const QRect &frame, const QSize &leastFrameSize, const QList<QRect> &screens)
{
    if (screens.isEmpty())
        return frame;
    const QRect avail = screenShowing(frame, frame.topLeft(), screens);
    const QSize least = leastFrameSize.expandedTo(QSize(1, kTitleBarHeight)).boundedTo(frame.size());
    const QSize size = frame.size().boundedTo(avail.size()).expandedTo(least);
    // Where even its least size is bigger than the screen, the window stays
    // where it was asked to be as long as it can be grabbed there.
    const auto clamp = [](qint64 v, qint64 lo, qint64 span, qint64 len, qint64 grab) {
        if (len > span)
            return int(v >= lo && v <= lo + span - grab ? v : lo);
        return int(std::clamp<qint64>(v, lo, lo + span - len));
    };
    return {clamp(frame.x(), avail.left(), avail.width(), size.width(), qMin(kGrabWidth, size.width())),
            clamp(frame.y(), avail.top(), avail.height(), size.height(), kTitleBarHeight), size.width(),
            size.height()};
}

QPoint framePointOnScreen(const QPoint &at, const QSize &frameSize)
{
    return fitOnScreen(QRect(at, frameSize), frameSize, availableScreens()).topLeft();
}

void moveToTwips(QWidget *window, double left, double top)
{
    const auto px = [](double twips, double dpi) {
        // A damaged file must not throw the window to a coordinate the window
        // system cannot hold.
        const double limit = double(std::numeric_limits<int>::max() / 2) * 1440.0 / dpi;
        if (!(twips > -limit && twips < limit))
            twips = 0;
        return Convert::twipsToPixels(twips, dpi);
    };
    const QMargins decoration = decorationOf(window);
    const QRect frame(QPoint(px(left, window->logicalDpiX()), px(top, window->logicalDpiY())),
                      shownSize(window).grownBy(decoration));
    putFrame(window, fitOnScreen(frame, leastFrameOf(window, decoration), availableScreens()), decoration);
}

void placeBeside(QWidget *window, const QWidget *first, int n)
{
    if (!window || !first || hasPlace(window))
        return;
    // Until it is shown its frame is not known; the window manager gives it
    // the one it gave the first.
    const QMargins decoration = window->isVisible() ? decorationOf(window) : decorationOf(first);
    const QSize least = leastFrameOf(window, decoration);
    const QList<QRect> screens = availableScreens();
    const QRect beside = besideFrame(first->frameGeometry(), shownSize(window).grownBy(decoration), least, screens);
    const QPoint step(kTitleBarHeight * n, kTitleBarHeight * n);
    putFrame(window, fitOnScreen(beside.translated(step), least, screens), decoration);
}

// A window moved by hand or by code stands where it was put, shown or not.
bool hasPlace(const QWidget *window)
{
    return window->property(kPlaced).toBool() || window->testAttribute(Qt::WA_Moved);
}

void FramePlacer::fitFramed()
{
    const QMargins decoration = decorationOf(m_window);
    const QRect framed(m_at, m_window->frameGeometry().size());
    const QRect fitted = fitOnScreen(framed, leastFrameOf(m_window, decoration), availableScreens());
    if (fitted.size() != framed.size())
        m_window->resize(fitted.size().shrunkBy(decoration));
    if (m_window->frameGeometry().topLeft() != fitted.topLeft())
        m_window->move(fitted.topLeft());
}

void moveFrameTo(QWidget *window, const QPoint &at)
{
    window->move(at);
    if (window->isVisible())
        return;
    if (auto *placer = window->findChild<FramePlacer *>(QStringLiteral("FramePlacer"), Qt::FindDirectChildrenOnly))
        placer->setPoint(at);
    else
        new FramePlacer(window, at);
}

QRect besideFrame(const QRect &firstFrame, const QSize &frameSize, const QSize &leastFrameSize,
                  const QList<QRect> &screens)
{
    const QRect &first = firstFrame;
    const QSize least = leastFrameSize.expandedTo(QSize(1, kTitleBarHeight)).boundedTo(frameSize);
    const QPoint cascaded = first.topLeft() + QPoint(kTitleBarHeight, kTitleBarHeight);
    if (screens.isEmpty())
        return {cascaded, frameSize};

    // The first window's screen: the one showing most of it, else the one
    // nearest to it.
    const QRect avail = screenShowing(first, first.center(), screens);

    // No bigger than the screen, no smaller than the window allows.
    const QSize size = frameSize.boundedTo(avail.size()).expandedTo(least);
    // On the screen as far as the window fits, its top-left corner (and so
    // its title bar) always.
    const auto onScreen = [&avail](qint64 x, qint64 y, const QSize &sz) {
        const auto clamp = [](qint64 v, qint64 lo, qint64 span, qint64 len) {
            return int(std::clamp<qint64>(v, lo, qMax<qint64>(lo, lo + span - len)));
        };
        return QRect(clamp(x, avail.left(), avail.width(), sz.width()), clamp(y, avail.top(), avail.height(), sz.height()),
                     sz.width(), sz.height());
    };
    const qint64 roomRight = qint64(avail.right()) - first.right();
    const qint64 roomLeft = qint64(first.left()) - avail.left();
    const qint64 roomBelow = qint64(avail.bottom()) - first.bottom();
    if (roomRight >= least.width()) {
        const QSize sz(int(qMin<qint64>(size.width(), roomRight)), size.height());
        return onScreen(qint64(first.right()) + 1, first.top(), sz);
    }
    if (roomLeft >= least.width()) {
        const QSize sz(int(qMin<qint64>(size.width(), roomLeft)), size.height());
        return onScreen(qint64(first.left()) - sz.width(), first.top(), sz);
    }
    if (roomBelow >= least.height()) {
        const QSize sz(size.width(), int(qMin<qint64>(size.height(), roomBelow)));
        return onScreen(first.left(), qint64(first.bottom()) + 1, sz);
    }
    return onScreen(cascaded.x(), cascaded.y(), size);
}

// pos() is the frame's top-left corner once the window is framed, and the
// point it was moved to before then.
double leftInTwips(const QWidget *window) { return Convert::pixelsToTwips(window->pos().x(), window->logicalDpiX()); }
double topInTwips(const QWidget *window) { return Convert::pixelsToTwips(window->pos().y(), window->logicalDpiY()); }

} // namespace mirelva
