#pragma once

#include <limits>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QString>
#include <QVector>

namespace mirelva {

// A check box holding 0 (clear), 1 (ticked) or 2 (greyed). The hand only
// toggles between 0 and 1; 2 comes from a settings file or from code.
class CheckBox : public QCheckBox {
    Q_OBJECT
public:
    CheckBox(const QString &name, const QString &caption, QWidget *parent = nullptr);
    int value() const;
    void setValue(int v);

protected:
    void nextCheckState() override;
};

class OptionButton;

// Option buttons of one frame: turning one on turns the others off, and a
// group may have none on (a settings file can say so).
class OptionGroup : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    void add(OptionButton *b) { m_buttons.append(b); }
    const QVector<OptionButton *> &buttons() const { return m_buttons; }

private:
    QVector<OptionButton *> m_buttons;
};

class OptionButton : public QRadioButton {
    Q_OBJECT
public:
    OptionButton(const QString &name, const QString &caption, OptionGroup *group, QWidget *parent = nullptr);
    bool value() const { return isChecked(); }
    void setValue(bool on);
    OptionGroup *group() const { return m_group; }

protected:
    void nextCheckState() override;

private:
    OptionGroup *m_group;
};

// A text box. Typing limits and the digits-only style filter what is typed,
// never text the program sets, as the edit styles did; a paste too long for
// the limit is cut to it. The upper-case style keeps the whole text in
// capitals, however it came.
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    TextBox(const QString &name, QWidget *parent = nullptr);
    void setTypingLimit(int chars);     // 0: no limit
    int typingLimit() const { return m_limit; }
    void setDigitsOnly(bool on);
    void setUpperCase(bool on);
    bool digitsOnly() const { return m_digits; }
    bool upperCase() const { return m_upper; }
    // The box read as a number the way the handlers read it.
    qint64 number() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void updateValidator();
    void keepUpperCase();
    int m_limit = 0;
    bool m_digits = false;
    bool m_upper = false;
};

// A log on screen that lives as long as the program (the chat log, the
// connect history). Lines are only ever added at the end, so an append costs
// the same on the thirtieth day as on the first: the text before it is never
// read back or rebuilt, and no undo history grows with it. Tab moves on to
// the next control, so a keyboard user is never trapped in it.
// A log left running for weeks keeps its newest lines only: at a few hundred
// bytes a line, a busy conference's chat would otherwise take the memory of a
// small single-board computer within months. Once it holds kTrimStep lines
// more than kMostLines, the oldest go, all at once.
class LogBox : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kMostLines = 10000;
    static constexpr int kTrimStep = 1000;
    LogBox(const QString &name, QWidget *parent = nullptr);
    // One line; a CR, LF or CRLF inside it starts a new line on screen.
    void appendLine(const QString &line);
    // Puts the caret at a character position, or at the end of a shorter
    // text, and scrolls it into view.
    void placeCaret(int position);
    // After the last line, in view, however long the log is.
    void placeCaretAtEnd() { placeCaret(std::numeric_limits<int>::max()); }
};

// A label showing a value the program changes as it runs: a clock, a
// countdown, a state. It keeps one size, the widest its texts have needed so
// far, so a new value repaints the label alone. A label whose size may change
// sets every layout above it to work again, and the tab page around it is
// repainted whole: every second, on a station that is otherwise idle.
//
// To a screen reader it is its caption (its accessible name), and its value
// is its text and its description, read when asked, so the name never hides
// what it shows ("Last Connected Call", "K1ABC Mary"). The change of value is
// told (a description change) only as it is painted: a label nobody sees (a
// hidden window, a tab not in front) tells nothing, and a value set back
// before it was shown (a countdown reloaded at once) tells nothing either.
class ValueLabel : public QLabel {
    Q_OBJECT
public:
    // KeepsWidest: the size described above. ByForm: the form places and
    // sizes it (a label with a place of its own in a resizable window).
    enum class Sizing { KeepsWidest, ByForm };
    ValueLabel(const QString &text, QWidget *parent, Sizing sizing = Sizing::KeepsWidest);
    // The value a screen reader reads where the text on screen does not say
    // it (the receiver indicator's blanks); empty: the text itself.
    void setSpokenValue(const QString &value);
    QString spokenValue() const;

protected:
    void paintEvent(QPaintEvent *e) override;
    void changeEvent(QEvent *e) override;
    void moveEvent(QMoveEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    void fitText();
    void takeBackdrop();
    void dropBackdrop();
    void tellValueIfChanged();

    // What the widgets beneath paint where the label stands, taken once
    // after its first paint: with it the label paints itself whole, and a
    // new value no longer repaints the frames and the tab page around it.
    // Taken again whenever the label or a widget beneath moves, resizes or
    // changes its look.
    QPixmap m_backdrop;
    bool m_takingBackdrop = false;
    bool m_watchingBeneath = false;
    Sizing m_sizing;
    QString m_spokenValue;
    // The value a screen reader was last told of (or could have read before
    // anything was told).
    QString m_toldValue;
};

// Countdown and counter labels hold decimal text.
qint64 labelNumber(const QLabel *label);
void setLabelNumber(QLabel *label, qint64 value);

// A label's caption with its colour (the PTT and fan indicators).
void setColouredCaption(QLabel *label, const QString &caption, unsigned vbColour);

// Gives every control under root an accessible name from its caption, its
// tool tip or the label that stands for it, so a screen reader says what each
// control is. Controls that already have one keep it. Tool tips become the
// accessible descriptions, read after the name.
void applyAccessibleNames(QWidget *root);

// Says a change a screen reader must speak although the focus is elsewhere
// (the transmitter keyed, a signal received, a chat text, a station
// connecting or leaving). Each notice is an object of its own: a
// notification, a pixel in the window's corner named by the text, shown as it
// is made, which a screen reader speaks at once (over AT-SPI
// "object:state-changed:showing" of a "notification"; Qt's bridge passes no
// alert event on). The event carries the object alone and the reader asks for
// its name afterwards, so a notice is never renamed: the next one is a new
// object, and one told in the same step is still read with its own words. A
// notice is kept for kNoticeLifeSeconds, and goes with the next one told after
// that; a window keeps at most kMostNotices, the oldest giving way, so a
// notice costs the same however many came before it.
void tellScreenReader(QWidget *window, const QString &text);
constexpr int kNoticeLifeSeconds = 60;
constexpr int kMostNotices = 16;
// The notice of an indicator's change (the transmitter, the receiver): told
// once the program settles, that is as it next waits for something to
// happen, or at once by tellIndicatorsNow (before a keyed speech blocks),
// with what the indicator then shows, and not when that is what a screen
// reader was last told of it. So a state the indicator passes through within
// one turn (the node's word of a keying that was already released, handled
// after the release) is never spoken, as it is never seen.
void tellIndicator(QWidget *indicator, const QString &text);
void tellIndicatorsNow();
// One notice.
class ScreenReaderNotice : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    qint64 toldAtMs = 0;   // Clock::nowMs() as it was told
};
// Every such notice, as it goes out (a test listens here: without a screen
// reader's bridge, as offscreen, Qt drops accessibility events unseen).
class ScreenReaderNotices : public QObject {
    Q_OBJECT
public:
    static ScreenReaderNotices &instance();
signals:
    void told(QWidget *window, const QString &text);
    // A value label told a screen reader of its new value.
    void valueShown(QWidget *label, const QString &value);
};

// A receiver indicator (main and DTMF windows, a value label captioned
// "Receiver"): "Receiving Signal" or six blanks on screen, "receiving signal"
// or "no signal" as its value to a screen reader. Nothing is set, and no
// event raised, when it already shows that; true when it changed. The
// notice for a change is receiverNotice().
bool showReceiving(QLabel *label, bool receiving);
// "Receiver: receiving signal" or "Receiver: no signal", as the label shows.
QString receiverNotice(const QLabel *label);

// The keyboard of a window, given once its form is built: every push button
// gets a mnemonic (Alt and a letter of its caption, none twice in the window;
// its words and spoken name stay as they are), and Escape presses the
// window's "Hide" button, where it has one.
void giveKeyboardAccess(QWidget *window);

// A control the window holds unchangeable for a while, with the reason in
// words ("Use Fan Control is ticked"): what a remote console says when it
// refuses to change it.
void setLocked(QWidget *control, bool locked, const QString &why);
QString lockedBecause(const QWidget *control);

// ---- building a form ---------------------------------------------------------
// Every window builds its controls with these, in the order Tab should visit
// them, so the windows look, read and behave alike.

// Ties a caption to the box it names: the box's accessible name is the
// caption the operator sees, unless it already has one.
void tie(QLabel *label, QWidget *box);
// A caption beside a box (tied to it when given).
QLabel *captionFor(QWidget *parent, const QString &text, QWidget *buddy = nullptr);
// A label that shows a value (a countdown, a state), a ValueLabel; caption is
// what a screen reader calls it, and the value it shows is read as its text.
QLabel *valueLabel(QWidget *parent, const QString &name, const QString &text, const QString &caption);

struct BoxStyle {
    int limit = 0;      // typing limit in characters; 0: none
    bool digits = false;
    bool upper = false;
    int width = 0;      // in characters; 0 stretches
};
TextBox *textBox(QWidget *parent, const QString &name, const QString &text, const QString &tip, BoxStyle style);
CheckBox *checkBox(QWidget *parent, const QString &name, const QString &caption, const QString &tip = {});
QPushButton *button(QWidget *parent, const QString &name, const QString &caption, const QString &tip = {});
QGroupBox *frame(QWidget *parent, const QString &name, const QString &title);

// ---- window position -----------------------------------------------------------
// The position a settings file keeps for a window, in twips: the top-left
// corner of its outer frame (title bar and border included), read and written
// as the same point, so saving and starting again never moves a window.
// moveToTwips is called before the window is first shown; a window that
// would stand partly off its screen (a damaged value, a screen unplugged or
// made smaller since) is moved, and made smaller if it must, to fit wholly on
// the screen showing most of it, or the nearest. Only the window moves: the
// file keeps what it says until the operator saves.
void moveToTwips(QWidget *window, double left, double top);
double leftInTwips(const QWidget *window);
double topInTwips(const QWidget *window);
// The point moveToTwips puts a window's frame at, in pixels, for a window of
// the given size: the point itself when the window fits there, else the
// nearest point that brings it wholly onto its screen (fitOnScreen).
QPoint framePointOnScreen(const QPoint &at, const QSize &frameSize);
// Moves a window's outer frame to a point in pixels, the way moveToTwips
// does: before the window is first shown the point is made good once the
// window manager has framed it.
void moveFrameTo(QWidget *window, const QPoint &at);

// Where a second window goes so that it covers nothing of a first: beside
// it (right, else left) when there is room there on the screen holding most
// of the first, else below it, else cascaded from its top-left corner. It is
// made smaller, down to its least size, to fit the room beside or below it
// and the screen; it is kept on that screen as far as it fits, its title bar
// always. Frames in (outer sizes), frame out; `screens` are the screens'
// available areas.
QRect besideFrame(const QRect &firstFrame, const QSize &frameSize, const QSize &leastFrameSize,
                  const QList<QRect> &screens);

// A window's frame wholly on a screen: the screen showing most of it (else
// the nearest), the frame made no bigger than that screen (down to its least
// size) and moved in just as far as it must. A frame that fits stays.
QRect fitOnScreen(const QRect &frame, const QSize &leastFrameSize, const QList<QRect> &screens);

// A window with no stored position (a first start) opens beside the first
// window (besideFrame), the n-th so placed cascaded n title bars down and
// right from there, wholly on the screen. Done once, before it is first
// shown; a window moveToTwips placed keeps that place.
void placeBeside(QWidget *window, const QWidget *first, int n);
// Whether moveToTwips or placeBeside gave the window its place, or it was
// moved since.
bool hasPlace(const QWidget *window);

} // namespace mirelva
