// The speech settings window: its form, ttssettings.ini and the test button.

#include "speech_settings/speechsettingswindow.h"

#include <algorithm>

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "announcer/mainwindow.h"
#include "ui/countdowns.h"
#include "ui/program.h"
#include "core/version.h"

namespace mirelva {

namespace {

// A bar in its frame: the end captions either side, the value beside it and
// a row of tick marks under it.
QScrollBar *barInFrame(QGroupBox *frame, const QString &name, int min, int max, const QString &low,
                       const QString &high, QLabel *&value, const QString &valueName)
{
    auto *g = new QGridLayout(frame);
    auto *lowLabel = new QLabel(low, frame);
    auto *bar = new QScrollBar(Qt::Horizontal, frame);
    bar->setObjectName(name);
    bar->setRange(min, max);
    bar->setSingleStep(1);
    bar->setPageStep(std::max(1, (max - min) / 10));
    bar->setMinimumWidth(240);
    bar->setAccessibleName(frame->title());
    // Taken by Tab and moved by the arrow and page keys, as a slider is.
    bar->setFocusPolicy(Qt::StrongFocus);
    // Right and Page Up raise the value (a scroll bar's own keys go the
    // other way, as for scrolling a page).
    bar->setInvertedControls(false);
    auto *highLabel = new QLabel(high, frame);
    value = valueLabel(frame, valueName, QStringLiteral("0"), frame->title() + QStringLiteral(" value"));
    // Eleven marks, as many as the speed bar has steps.
    auto *ticks = new QLabel(QStringLiteral("|    |    |    |    |    |    |    |    |    |    |"), frame);
    ticks->setAlignment(Qt::AlignHCenter);
    ticks->setAccessibleName(QStringLiteral("Tick marks"));
    g->addWidget(lowLabel, 0, 0);
    g->addWidget(bar, 0, 1);
    g->addWidget(highLabel, 0, 2);
    g->addWidget(value, 0, 3);
    g->addWidget(ticks, 1, 1);
    g->setColumnStretch(1, 1);
    return bar;
}

} // namespace

// Closing asks nothing and ends nothing: it unloads the window (closeEvent).
SpeechSettingsWindow::SpeechSettingsWindow(Station &st, QWidget *parent)
    : StationWindow(st, parent, iniName(), kIniCapacity, {})
{
    buildForm();
    enlist(&Station::speechSettings);
}

void SpeechSettingsWindow::buildForm()
{
    setObjectName(QStringLiteral("Form8"));
    setWindowTitle(QStringLiteral("TTS Settings"));
    auto *v = new QVBoxLayout(this);

    FrameSpeed = frame(this, QStringLiteral("FrameSpeed"), QStringLiteral("Voice Speed"));
    VoiceSpeed = barInFrame(FrameSpeed, QStringLiteral("VoiceSpeed"), -5, 5, QStringLiteral("Slow"),
                            QStringLiteral("Fast"), Label6, QStringLiteral("Label6"));
    v->addWidget(FrameSpeed);

    FrameVolume = frame(this, QStringLiteral("FrameVolume"), QStringLiteral("Speech Volume Level"));
    VolLev = barInFrame(FrameVolume, QStringLiteral("VolLev"), 0, 100, QStringLiteral("Min"), QStringLiteral("Max"),
                        Label1, QStringLiteral("Label1"));
    v->addWidget(FrameVolume);

    Text1 = textBox(this, QStringLiteral("Text1"), designTestText(), QStringLiteral("Test Text"), {});
    Text1->setAccessibleName(QStringLiteral("Test Text"));
    v->addWidget(Text1);

    auto *buttons = new QHBoxLayout;
    Command3 = button(this, QStringLiteral("Command3"), QStringLiteral("Test"), QStringLiteral("Test Your Settings"));
    Command2 = button(this, QStringLiteral("Command2"), QStringLiteral("Save"), QStringLiteral("Save your Settings"));
    Command1 = button(this, QStringLiteral("Command1"), QStringLiteral("Hide"), QStringLiteral("Hide This Screen"));
    buttons->addWidget(Command3);
    buttons->addStretch(1);
    buttons->addWidget(Command2);
    buttons->addWidget(Command1);
    v->addLayout(buttons);

    applyAccessibleNames(this);
    giveKeyboardAccess(this);

    connect(VoiceSpeed, &QScrollBar::valueChanged, this, &SpeechSettingsWindow::VoiceSpeed_Change);
    connect(VolLev, &QScrollBar::valueChanged, this, &SpeechSettingsWindow::VolLev_Change);
    onClick(Command3, &SpeechSettingsWindow::Command3_Click);
    onClick(Command2, &SpeechSettingsWindow::SaveData);
    onClick(Command1, &SpeechSettingsWindow::Command1_Click);
}

void SpeechSettingsWindow::Form_Load()
{
    setWindowTitle(QStringLiteral("Mirelva   v") + versionText() + QStringLiteral("  TTS Setup"));
    SettingTables::load(m_ini, this, settingTable());
    // The labels show the value even when it equals the bar's start value.
    VoiceSpeed_Change();
    VolLev_Change();
}

void SpeechSettingsWindow::SaveData()
{
    // Both keys in one replacement of the file.
    SettingTables::save(m_ini, this, settingTable());
}

const SettingTable &SpeechSettingsWindow::settingTable()
{
    static const SettingTable table{
        {QStringLiteral("VOLLEV"), QStringLiteral("VolLev"), Setting::Kind::Bar, QStringLiteral("50"),
         QStringLiteral("Loudness of the voice, 0 to 100.")},
        {QStringLiteral("VOICESPEED"), QStringLiteral("VoiceSpeed"), Setting::Kind::Bar, QStringLiteral("0"),
         QStringLiteral("Speed of the voice, -5 (slow) to 5 (fast).")},
    };
    return table;
}

void SpeechSettingsWindow::Command3_Click()
{
    // An empty sentence would key the transmitter for a silent carrier.
    if (!station.main || countdowns::carriesNothing(Text1->text()))
        return;
    station.main->SayTheText = Text1->text();
    station.main->SpeakTheText();
}

void SpeechSettingsWindow::Command1_Click() { hide(); }

void SpeechSettingsWindow::VoiceSpeed_Change() { Label6->setText(QString::number(VoiceSpeed->value())); }
void SpeechSettingsWindow::VolLev_Change() { Label1->setText(QString::number(VolLev->value())); }

void SpeechSettingsWindow::closeEvent(QCloseEvent *event)
{
    // Closing unloads the window: what was not saved is gone, and the next
    // announcement or the next showing finds the values of the file and the
    // test sentence as designed.
    event->accept();
    if (Program::ended())
        return;
    Text1->setText(designTestText());
    Form_Load();
}

} // namespace mirelva
