#include <QTest>

#include "core/controls.h"

using namespace mirelva;

// The control rules the windows rely on: styles filter typing only, check
// boxes hold three values, option groups may have none on.
class TestControls : public QObject {
    Q_OBJECT
private slots:
    void upperCaseFiltersTypingOnly()
    {
        TextBox box(QStringLiteral("CourtesyID"));
        box.setUpperCase(true);
        box.setText(QStringLiteral("k"));
        QCOMPARE(box.text(), QStringLiteral("k"));
        box.end(false);
        QTest::keyClicks(&box, QStringLiteral("ab1"));
        QCOMPARE(box.text(), QStringLiteral("kAB1"));
    }

    void digitsOnlyAndLimitFilterTypingOnly()
    {
        TextBox box(QStringLiteral("TTSPeriod"));
        box.setDigitsOnly(true);
        box.setTypingLimit(2);
        box.setText(QStringLiteral("12345"));
        QCOMPARE(box.text(), QStringLiteral("12345"));
        box.clear();
        QTest::keyClicks(&box, QStringLiteral("7x89"));
        QCOMPARE(box.text(), QStringLiteral("78"));
        QCOMPARE(box.number(), 78);
    }

    void checkBoxHoldsThreeValuesButTheHandTogglesTwo()
    {
        CheckBox c(QStringLiteral("Check1"), QStringLiteral("Disable Announcements"));
        c.setValue(2);
        QCOMPARE(c.value(), 2);
        c.click();
        QCOMPARE(c.value(), 1);
        c.click();
        QCOMPARE(c.value(), 0);
        c.click();
        QCOMPARE(c.value(), 1);
    }

    void optionGroupTurnsOthersOffAndMayHaveNoneOn()
    {
        OptionGroup g;
        OptionButton a(QStringLiteral("Option1"), QStringLiteral("12 Hr"), &g);
        OptionButton b(QStringLiteral("Option2"), QStringLiteral("24 Hr"), &g);
        a.setValue(true);
        b.setValue(true);
        QVERIFY(!a.value());
        QVERIFY(b.value());
        b.setValue(false);
        QVERIFY(!a.value() && !b.value());
        a.click();
        QVERIFY(a.value());
        a.click();
        QVERIFY(a.value());
    }
};

QTEST_MAIN(TestControls)
#include "test_controls.moc"
