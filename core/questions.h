#pragma once

#include <functional>

#include <QString>

class QWidget;

namespace mirelva {

// Yes/no questions (the quit questions). Tests install an answerer so no
// dialog ever waits for a hand that is not there.
namespace Questions {
enum class Answer { Yes, No };
using Answerer = std::function<Answer(const QString &title, const QString &text)>;

Answer askYesNo(QWidget *parent, const QString &title, const QString &text);
void setAnswererForTests(Answerer answerer);
} // namespace Questions

} // namespace mirelva
