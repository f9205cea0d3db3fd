// Every window's settings file as its save writes it: keys, their order and
// letter case, and the stored form of every kind of control, byte for byte.

#include <QtTest>

#include "dtmf/dtmfwindow.h"
#include "greeting/greetingwindow.h"
#include "messagebox/messageboxwindow.h"
#include "speech_settings/speechsettingswindow.h"
#include "support/mainfixture.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {

void saveAll(Station &s)
{
    s.main->SaveData();
    s.dtmf->SaveData();
    s.greeting->SaveData();
    s.messageBox->SaveData();
    s.speechSettings->SaveData();
}

// What a first start saves.
const QList<std::pair<QString, QByteArray>> kDefaults{
    {QStringLiteral("mirelva.ini"), R"INI([SETTINGS]
SUN=0
MON=0
TUE=0
WED=0
THUR=0
FRI=0
SAT=0
HOUROFF1=24
MINSOFF1=00
HOURON1B=24
MINSON1B=00
SUN2=0
MON2=0
TUE2=0
WED2=0
THUR2=0
FRI2=0
SAT2=0
HOUROFF2=24
MINSOFF2=00
TOGGLETEXT=
HOURON2B=24
MINSON2B=00
SUN3=0
MON3=0
TUE3=0
WED3=0
THUR3=0
FRI3=0
SAT3=0
HOUROFF3=24
MINSOFF3=00
HOURON3B=24
MINSON3B=00
ANNOUNCEOFF=
ANNOUNCEON=
CHECK1=0
CHECK2=0
OPTION1=True
OPTION2=False
SAYTEXT=0
STAYCON1=0
STAYCON2=0
ENABLEAUTOCONNECT=*1*
DISABLEAUTOCONNECT=*0*
IDCHECK=0
VOICEPERIOD=10
TEXTINPUT3=TTS Text Here
INFOTEXT=TTS Text Here
TXTIMEHOUR=0
TXQUARTERHOUR=0
TXHALFHOUR=0
INFOHOURLY=0
INFOQUATER=0
INFOHALF=0
BEACONPERIOD3=10
STOPCLOCK3=0
CONNECTSTATION1=
CONNECTSTATION2=
STOPCLOCK6=0
BEACONPERIOD6=10
CALLSIGN=
STOPCLOCK7=0
BEACONPERIOD7=15
CWCALLSIGN=
CONDISC=1
ADDTIME=1
LEFT=300
TOP=300
COURTESYID=K
IPCOURTESY=S
HANGTIME=500
KERCHUNKWAIT=3000
USECT=1
FANPERIOD=1
FANCTRL=1
TTSPERIOD=0
TTSCTRL=0
USEDTR=True
USERTS=False
DELAYPERIOD=10
DELAYCTRL=0
CHECK3=1
)INI"},
    {QStringLiteral("dtmfctrl.ini"), R"INI([SETTINGS]
DISCMINS1=0
DISCMINS2=0
DISCMINS3=0
DISCMINS4=0
CHECK2=0
CHECK3=0
CHECK11=0
CHECK20=0
DTMFDELAYSECONDS=5
USEDTMFDELAY=0
TEXT555=
BEACONPERIOD=1
TEXT111=73
TEXT222=
TEXT333=
CHECK1=1
TEXT1111=
TEXT2222=
DTMF1=
DTMF2=
DTMF3=
DTMF4=
DTMF5=
DTMF6=
DTMF7=
DTMF8=
CALL1=
CALL2=
CALL3=
CALL4=
CALL5=
CALL6=
CALL7=
CALL8=
DTMFGROUP1CONNECT=
DTMFGROUP1DISC=
DTMFGROUP2CONNECT=
DTMFGROUP2DISC=
GROUPCALL1=
GROUPCALL2=
GROUPCALL3=
GROUPCALL4=
GROUPCALL5=
GROUPCALL6=
SUN2=0
MON2=0
TUE2=0
WED2=0
THUR2=0
FRI2=0
SAT2=0
HOUR2=24
MINS2=00
NETCALL1=
NETCALL2=
NETCALL3=
NETCALL4=
SUN=0
MON=0
TUE=0
WED=0
THUR=0
FRI=0
SAT=0
HOUR=24
MINS=00
SUN3=0
MON3=0
TUE3=0
WED3=0
THUR3=0
FRI3=0
SAT3=0
HOUR3=24
MINS3=00
SUN4=0
MON4=0
TUE4=0
WED4=0
THUR4=0
FRI4=0
SAT4=0
HOUR4=24
MINS4=00
DISCONNECTALL1=0
DISCONNECTALL2=0
DISCONNECTALL3=0
DISCONNECTALL4=0
LEFT=300
TOP=300
DTMF=123
USEDTMF=1
SHOWBUSY1=0
SHOWBUSY2=0
SHOWBUSY3=0
SHOWBUSY4=0
RFBUSY=0
)INI"},
    {QStringLiteral("brisvel.ini"), R"INI([SETTINGS]
TEXTTXMESSAGE=Welcome. If I don't answer then I might be away or busy. Please leave a short delay between Transmission's !
TEXTTXMESSAGE2=Enjoy the system. Please Calls CQ and leave good gaps between over's.
TEXTTXMESSAGE3=Welcome
TEXTTXMESSAGE4=Has Joined us
TEXTTXMESSAGE5=How are you. Thanks for joining us. Please call CQ
TEXTTXMESSAGE6=Welcome, The system is active. Please leave good gaps between over's.
TEXTTXMESSAGE7=Great having you aboard
TEXTTXMESSAGE8=Im not about at the moment. Call back later or call CQ
TEXTTXMESSAGE9=Has Joined The Conference
USEGREETING=1
TIMESTAMP=1
BEACONPERIODDELAY=3
OPTION1=False
OPTION2=False
OPTION3=False
OPTION4=False
OPTION5=False
OPTION6=False
OPTION7=False
OPTION8=False
OPTION9=False
OPTION10=True
CHECK1=0
)INI"},
    {QStringLiteral("messagebox.ini"), R"INI([SETTINGS]
LEFT=300
TOP=300
CHECK1=1
CHECK2=1
FILTERTEXT1=
FILTERTEXT2=
FILTERTEXT3=
FILTERTEXT4=
FILTERTEXT5=
FILTERTEXT6=
FILTERTEXT7=
FILTERTEXT8=
)INI"},
    {QStringLiteral("ttssettings.ini"), R"INI([SETTINGS]
VOLLEV=50
VOICESPEED=0
)INI"},
};

// Every key away from its default, each kind of control in each of its forms.
const QList<std::pair<QString, QByteArray>> kEdited{
    {QStringLiteral("mirelva.ini"), R"INI([SETTINGS]
SUN=1
MON=1
TUE=1
WED=1
THUR=1
FRI=1
SAT=1
HOUROFF1=08
MINSOFF1=09
HOURON1B=10
MINSON1B=11
SUN2=1
MON2=1
TUE2=1
WED2=1
THUR2=1
FRI2=1
SAT2=1
HOUROFF2=19
MINSOFF2=20
TOGGLETEXT=*21#
HOURON2B=22
MINSON2B=23
SUN3=1
MON3=1
TUE3=1
WED3=1
THUR3=1
FRI3=1
SAT3=1
HOUROFF3=07
MINSOFF3=32
HOURON3B=09
MINSON3B=34
ANNOUNCEOFF=*35#
ANNOUNCEON=*36#
CHECK1=1
CHECK2=1
OPTION1=False
OPTION2=True
SAYTEXT=1
STAYCON1=1
STAYCON2=1
ENABLEAUTOCONNECT=*44#
DISABLEAUTOCONNECT=*45#
IDCHECK=1
VOICEPERIOD=17
TEXTINPUT3=TTS Text Here (edited)
INFOTEXT=TTS Text Here (edited)
TXTIMEHOUR=1
TXQUARTERHOUR=1
TXHALFHOUR=1
INFOHOURLY=1
INFOQUATER=1
INFOHALF=1
BEACONPERIOD3=12
STOPCLOCK3=1
CONNECTSTATION1=VK58ABC
CONNECTSTATION2=VK59ABC
STOPCLOCK6=1
BEACONPERIOD6=17
CALLSIGN=VK62ABC
STOPCLOCK7=1
BEACONPERIOD7=18
CWCALLSIGN=VK2ABC
CONDISC=2
ADDTIME=0
LEFT=300
TOP=300
COURTESYID=T
IPCOURTESY=N
HANGTIME=504
KERCHUNKWAIT=3005
USECT=0
FANPERIOD=8
FANCTRL=0
TTSPERIOD=7
TTSCTRL=1
USEDTR=False
USERTS=True
DELAYPERIOD=16
DELAYCTRL=1
CHECK3=0
)INI"},
    {QStringLiteral("dtmfctrl.ini"), R"INI([SETTINGS]
DISCMINS1=3
DISCMINS2=4
DISCMINS3=5
DISCMINS4=6
CHECK2=1
CHECK3=1
CHECK11=1
CHECK20=1
DTMFDELAYSECONDS=9
USEDTMFDELAY=1
TEXT555=*11#
BEACONPERIOD=8
TEXT111=81
TEXT222=*14#
TEXT333=*15#
CHECK1=0
TEXT1111=*17#
TEXT2222=*18#
DTMF1=*19#
DTMF2=*20#
DTMF3=*21#
DTMF4=*22#
DTMF5=*23#
DTMF6=*24#
DTMF7=*25#
DTMF8=*26#
CALL1=VK27ABC
CALL2=VK28ABC
CALL3=VK29ABC
CALL4=VK30ABC
CALL5=VK31ABC
CALL6=VK32ABC
CALL7=VK33ABC
CALL8=VK34ABC
DTMFGROUP1CONNECT=*35#
DTMFGROUP1DISC=*36#
DTMFGROUP2CONNECT=*37#
DTMFGROUP2DISC=*38#
GROUPCALL1=VK39ABC
GROUPCALL2=VK40ABC
GROUPCALL3=VK41ABC
GROUPCALL4=VK42ABC
GROUPCALL5=VK43ABC
GROUPCALL6=VK44ABC
SUN2=1
MON2=1
TUE2=1
WED2=1
THUR2=1
FRI2=1
SAT2=1
HOUR2=04
MINS2=53
NETCALL1=VK54ABC
NETCALL2=VK55ABC
NETCALL3=VK56ABC
NETCALL4=VK57ABC
SUN=1
MON=1
TUE=1
WED=1
THUR=1
FRI=1
SAT=1
HOUR=17
MINS=06
SUN3=1
MON3=1
TUE3=1
WED3=1
THUR3=1
FRI3=1
SAT3=1
HOUR3=02
MINS3=15
SUN4=1
MON4=1
TUE4=1
WED4=1
THUR4=1
FRI4=1
SAT4=1
HOUR4=11
MINS4=24
DISCONNECTALL1=1
DISCONNECTALL2=1
DISCONNECTALL3=1
DISCONNECTALL4=1
LEFT=0
TOP=0
DTMF=125
USEDTMF=0
SHOWBUSY1=1
SHOWBUSY2=1
SHOWBUSY3=1
SHOWBUSY4=1
RFBUSY=1
)INI"},
    {QStringLiteral("brisvel.ini"), R"INI([SETTINGS]
TEXTTXMESSAGE=Welcome. If I don't answer then I might be away or busy. Please leave a short delay between Transmission's ! (edited)
TEXTTXMESSAGE2=Enjoy the system. Please Calls CQ and leave good gaps between over's. (edited)
TEXTTXMESSAGE3=Welcome (edited)
TEXTTXMESSAGE4=Has Joined us (edited)
TEXTTXMESSAGE5=How are you. Thanks for joining us. Please call CQ (edited)
TEXTTXMESSAGE6=Welcome, The system is active. Please leave good gaps between over's. (edited)
TEXTTXMESSAGE7=Great having you aboard (edited)
TEXTTXMESSAGE8=Im not about at the moment. Call back later or call CQ (edited)
TEXTTXMESSAGE9=Has Joined The Conference (edited)
USEGREETING=0
TIMESTAMP=0
BEACONPERIODDELAY=8
OPTION1=False
OPTION2=False
OPTION3=False
OPTION4=True
OPTION5=False
OPTION6=False
OPTION7=False
OPTION8=False
OPTION9=False
OPTION10=False
CHECK1=1
)INI"},
    {QStringLiteral("messagebox.ini"), R"INI([SETTINGS]
LEFT=0
TOP=0
CHECK1=2
CHECK2=0
FILTERTEXT1=word5
FILTERTEXT2=word6
FILTERTEXT3=word7
FILTERTEXT4=word8
FILTERTEXT5=word9
FILTERTEXT6=word10
FILTERTEXT7=word11
FILTERTEXT8=word12
)INI"},
    {QStringLiteral("ttssettings.ini"), R"INI([SETTINGS]
VOLLEV=73
VOICESPEED=-3
)INI"},
};

} // namespace

class TestSettingsTables : public QObject {
    Q_OBJECT

private slots:
    void aFirstStartSavesTheDefaults()
    {
        MainFixture f;
        saveAll(f.station);
        for (const auto &[file, bytes] : kDefaults)
            QCOMPARE(f.settings.readFile(file), bytes);
    }

    // Each line of a table names one control of its window, of its kind.
    void everyTableNamesItsOwnControls()
    {
        MainFixture f;
        const std::pair<QWidget *, const SettingTable *> windows[] = {
            {f.station.main, &MainWindow::settingTable()},
            {f.station.dtmf, &DtmfWindow::settingTable()},
            {f.station.greeting, &GreetingWindow::settingTable()},
            {f.station.messageBox, &MessageBoxWindow::settingTable()},
            {f.station.speechSettings, &SpeechSettingsWindow::settingTable()},
        };
        for (const auto &[window, table] : windows)
            for (const Setting &s : *table) {
                if (!s.onPage())
                    continue;
                QWidget *c = SettingTables::controlOf(window, s);
                const bool ofItsKind = s.kind == Setting::Kind::Text     ? qobject_cast<TextBox *>(c) != nullptr
                                       : s.kind == Setting::Kind::Check  ? qobject_cast<CheckBox *>(c) != nullptr
                                       : s.kind == Setting::Kind::Option ? qobject_cast<OptionButton *>(c) != nullptr
                                                                         : qobject_cast<QScrollBar *>(c) != nullptr;
                QVERIFY2(ofItsKind && window->findChildren<QWidget *>(s.control).size() == 1, qPrintable(s.key));
            }
    }

    void whatIsReadIsSavedByteForByte()
    {
        MainFixture f(MainFixture::Built);
        for (const auto &[file, bytes] : kEdited)
            f.settings.writeFile(file, bytes);
        f.load();
        // Written anew, not left as they were.
        f.settings.clear();
        saveAll(f.station);
        for (const auto &[file, bytes] : kEdited)
            QCOMPARE(f.settings.readFile(file), bytes);
    }
};

QTEST_MAIN(TestSettingsTables)
#include "test_settings_tables.moc"
