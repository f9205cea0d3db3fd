#pragma once

#include <QPointer>
#include <QWidget>

namespace mirelva {

// Keeps a window's controls in proportion as the window is resized: every
// placed control is moved and stretched by the factors the window changed by
// since the last resize. Controls that a layout places are left to it, and
// objects without a size (timers) are passed over. Fonts are not scaled.
//
//   m_resize.FormInitialize(this);          // once the form is built
//   void resizeEvent(...) { m_resize.FormResize(); }
class ClsResize {
public:
    void FormInitialize(QWidget *frm);
    void FormResize();

    int storedHeight() const { return m_height; }
    int storedWidth() const { return m_width; }

private:
    void measure();

    QPointer<QWidget> m_form;
    int m_height = 0;
    int m_width = 0;
};

} // namespace mirelva
