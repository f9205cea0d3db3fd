#pragma once

#include <functional>

#include <QAbstractButton>
#include <QCloseEvent>
#include <QLineEdit>
#include <QList>
#include <QString>

#include "core/settingsstore.h"
#include "ui/echolink.h"
#include "ui/program.h"
#include "ui/station.h"

namespace mirelva {

// How ending the program from a window goes: what its quit question asks,
// which lines it releases first and whether it saves, on "Yes" and on the
// node's closing. Each window states its own; nothing else differs.
struct WindowEnding {
    enum class Line { PTT, RTS, DTR };
    QString question;   // the quit question; empty: closing the window asks none
    QList<Line> releasedOnQuit;
    QList<Line> releasedOnClosing;
    std::function<void()> saveOnQuit;      // none: nothing is saved
    std::function<void()> saveOnClosing;
};

namespace windowending {
// The quit question and what "Yes" does; true when the closing is cancelled.
bool query(QWidget *window, EchoLink *instance, const WindowEnding &ending);
// The node's closing, heard by this window's instance: nothing once the
// program has ended (another window's handler came first).
void closing(EchoLink *instance, const WindowEnding &ending);
} // namespace windowending

// What the station's windows do alike, on the widget class each is made of:
// its entry in Station (made once its form is built, cleared as it goes), its
// own EchoLink instance, its settings file, the way closing it ends the
// program, and its buttons' and boxes' handlers, which never run once the
// program has ended.
template <class QtBase>
class StationWindowOf : public QtBase {
public:
    Station &station;
    EchoLink *Echolink = nullptr;

    // Asked whatever causes the closing; true when the closing is cancelled.
    bool Form_QueryUnload() { return windowending::query(this, Echolink, m_ending); }
    void EchoLink_Closing() { windowending::closing(Echolink, m_ending); }

protected:
    StationWindowOf(Station &st, QWidget *parent, const QString &iniName, int iniCapacity, WindowEnding ending)
        : QtBase(parent), station(st), m_ini(iniName, iniCapacity), m_ending(std::move(ending))
    {
    }
    ~StationWindowOf() override
    {
        if (m_unlist)
            m_unlist();
    }

    // Enters the window in Station; it leaves again when it goes.
    template <class Self>
    void enlist(Self *Station::*slot)
    {
        Self *self = static_cast<Self *>(this);
        station.*slot = self;
        m_unlist = [st = &station, slot, self] {
            if (st->*slot == self)
                st->*slot = nullptr;
        };
    }

    // A window with a quit question asks it, unless the program has ended.
    void closeEvent(QCloseEvent *event) override
    {
        if (m_ending.question.isEmpty())
            QtBase::closeEvent(event);
        else
            event->setAccepted(Program::ended() || !Form_QueryUnload());
    }

    // A press runs its handler (a member of the window, or any call) unless
    // the program has ended; a text change runs its handler as typing does.
    template <class Handler>
    void onClick(QAbstractButton *button, Handler handler)
    {
        QObject::connect(button, &QAbstractButton::clicked, this, [this, handler] {
            if (!Program::ended())
                run(handler);
        });
    }
    template <class Handler>
    void onChange(QLineEdit *box, Handler handler)
    {
        QObject::connect(box, &QLineEdit::textChanged, this, [this, handler] { run(handler); });
    }

    IniFile m_ini;

private:
    template <class Self>
    void run(void (Self::*handler)())
    {
        (static_cast<Self *>(this)->*handler)();
    }
    template <class Call>
    void run(const Call &call)
    {
        call();
    }

    WindowEnding m_ending;
    std::function<void()> m_unlist;
};

using StationWindow = StationWindowOf<QWidget>;

} // namespace mirelva
