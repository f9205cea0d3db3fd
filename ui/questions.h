#pragma once

#include <functional>

#include <QString>

class QWidget;

namespace mirelva {

// Yes/no questions (the quit questions) and the few messages with an OK
// button. Tests install an answerer and an informer so no dialog ever waits
// for a hand that is not there.
namespace Questions {
enum class Answer { Yes, No };
using Answerer = std::function<Answer(const QString &title, const QString &text)>;

Answer askYesNo(QWidget *parent, const QString &title, const QString &text);
void setAnswererForTests(Answerer answerer);

enum class Icon { None, Warning, Error };
using Informer = std::function<void(Icon icon, const QString &title, const QString &text)>;
// A message with an OK button; returns once it has been read.
void inform(QWidget *parent, Icon icon, const QString &title, const QString &text);
void setInformerForTests(Informer informer);
} // namespace Questions

} // namespace mirelva
