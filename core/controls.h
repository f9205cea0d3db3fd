#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
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

protected:
    void nextCheckState() override;

private:
    OptionGroup *m_group;
};

// A text box. Typing limits and the digits-only and upper-case styles filter
// what is typed, never text the program sets, as the edit styles did.
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
    int m_limit = 0;
    bool m_digits = false;
    bool m_upper = false;
};

// Countdown and counter labels hold decimal text.
qint64 labelNumber(const QLabel *label);
void setLabelNumber(QLabel *label, qint64 value);

// A label's caption with its colour (the PTT and fan indicators).
void setColouredCaption(QLabel *label, const QString &caption, unsigned vbColour);

// Gives every control under root an accessible name from its caption, its
// tool tip or the label that stands for it, so a screen reader says what each
// control is. Controls that already have one keep it.
void applyAccessibleNames(QWidget *root);

} // namespace mirelva
