#include "ui/questions.h"

#include <QLabel>
#include <QMessageBox>

namespace mirelva::Questions {

namespace {
Answerer g_answerer;
Informer g_informer;

// The box's icon says in a picture what its title says in words; a screen
// reader meeting it would say only "image". It is named by what it shows.
void nameIcon(QMessageBox &box, const QString &name)
{
    for (QLabel *label : box.findChildren<QLabel *>())
        if (!label->pixmap().isNull() && label->accessibleName().isEmpty())
            label->setAccessibleName(name);
}
} // namespace

Answer askYesNo(QWidget *parent, const QString &title, const QString &text)
{
    if (g_answerer)
        return g_answerer(title, text);
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    nameIcon(box, QStringLiteral("Question"));
    return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void setAnswererForTests(Answerer answerer) { g_answerer = std::move(answerer); }

void inform(QWidget *parent, Icon icon, const QString &title, const QString &text)
{
    if (g_informer) {
        g_informer(icon, title, text);
        return;
    }
    const QMessageBox::Icon shown = icon == Icon::Warning ? QMessageBox::Warning
                                    : icon == Icon::Error ? QMessageBox::Critical
                                                          : QMessageBox::NoIcon;
    QMessageBox box(shown, title, text, QMessageBox::Ok, parent);
    nameIcon(box, icon == Icon::Warning ? QStringLiteral("Warning") : QStringLiteral("Error"));
    box.exec();
}

void setInformerForTests(Informer informer) { g_informer = std::move(informer); }

} // namespace mirelva::Questions
