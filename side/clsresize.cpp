#include "side/clsresize.h"

#include <cmath>

#include <QLayout>

namespace mirelva {

namespace {

// Rounded to the nearest whole pixel, a tie to the even one.
int scaled(int value, double factor) { return int(std::nearbyint(double(value) * factor)); }

// A control the form placed itself: named, and not put in place by a layout
// (which would undo the scaling at its next pass anyway).
bool placedByForm(const QWidget *w)
{
    if (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
        return false;
    const QWidget *parent = w->parentWidget();
    return !(parent && parent->layout() && parent->layout()->indexOf(const_cast<QWidget *>(w)) >= 0);
}

} // namespace

void ClsResize::FormInitialize(QWidget *frm)
{
    m_form = frm;
    measure();
}

void ClsResize::measure()
{
    if (!m_form)
        return;
    m_height = m_form->height();
    m_width = m_form->width();
}

void ClsResize::FormResize()
{
    if (!m_form)
        return;
    // A window with no height or width (minimised on some window systems, or
    // measured before it had a size) gives no factor: the controls stay as
    // they are, and the size last measured stands, so coming back to a real
    // size scales from where they were.
    if (m_height <= 0 || m_width <= 0 || m_form->height() <= 0 || m_form->width() <= 0)
        return;
    const double heightFactor = double(m_form->height()) / double(m_height);
    const double widthFactor = double(m_form->width()) / double(m_width);
    for (QWidget *w : m_form->findChildren<QWidget *>()) {
        if (w->isWindow() || !placedByForm(w))
            continue;
        const QRect g = w->geometry();
        w->setGeometry(scaled(g.left(), widthFactor), scaled(g.top(), heightFactor), scaled(g.width(), widthFactor),
                       scaled(g.height(), heightFactor));
    }
    measure();
}

} // namespace mirelva
