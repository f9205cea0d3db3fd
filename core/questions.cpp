#include "core/questions.h"

#include <QMessageBox>

namespace mirelva::Questions {

namespace {
Answerer g_answerer;
}

Answer askYesNo(QWidget *parent, const QString &title, const QString &text)
{
    if (g_answerer)
        return g_answerer(title, text);
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void setAnswererForTests(Answerer answerer) { g_answerer = std::move(answerer); }

} // namespace mirelva::Questions
