#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QPlainTextEdit>
#include <QSet>
#include <QTest>

#include "ui/controls.h"

namespace mirelva::test {

// What an operator can set or press: text boxes, buttons of every kind, logs.
inline bool isControl(QWidget *w)
{
    return qobject_cast<TextBox *>(w) || qobject_cast<QAbstractButton *>(w) || qobject_cast<QPlainTextEdit *>(w);
}

// Shows the window of `area`, makes it the active one, and checks the
// controls under `area` as a screen reader user meets them: each has a spoken
// name of its own (not blank, no "xx" placeholder, no two alike), and the Tab
// key, from the first, reaches them all. Returns the object names in the
// order the Tab key walks them.
inline QStringList spokenNamesAndTabOrder(QWidget *area)
{
    QWidget *window = area->window();
    window->show();
    QApplication::setActiveWindow(window);
    [&] { QVERIFY(QTest::qWaitForWindowActive(window)); }();
    if (QTest::currentTestFailed())
        return {};
    QStringList names;
    QList<QWidget *> controls;
    for (QWidget *c : area->findChildren<QWidget *>()) {
        if (!isControl(c) || !c->isVisibleTo(area))
            continue;
        const QString name = QAccessible::queryAccessibleInterface(c)->text(QAccessible::Name);
        const QString what = c->objectName() + QStringLiteral(": \"") + name + QLatin1Char('"');
        [&] {
            QVERIFY2(!name.trimmed().isEmpty() && !name.contains(QLatin1String("xx")), qPrintable(what));
            QVERIFY2(!names.contains(name), qPrintable(what + QStringLiteral(" twice")));
        }();
        names << name;
        controls << c;
    }
    if (controls.isEmpty())
        return {};
    controls.first()->setFocus();
    QSet<QWidget *> seen;
    QStringList order;
    for (int i = 0; i < 400 && seen.size() < controls.size() && QApplication::focusWidget(); ++i) {
        QWidget *at = QApplication::focusWidget();
        if (!seen.contains(at))
            order << at->objectName();
        seen.insert(at);
        QTest::keyClick(at, Qt::Key_Tab);
    }
    for (QWidget *c : controls)
        [&] { QVERIFY2(seen.contains(c), qPrintable(c->objectName() + QStringLiteral(" never reached by Tab"))); }();
    return order;
}

} // namespace mirelva::test
