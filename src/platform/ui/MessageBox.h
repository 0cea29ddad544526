#pragma once

#include <QString>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

class QWidget;

// Message boxes and the input prompt. They always carry the application title and never a title
// of their own. Tests queue answers so that no modal box waits for a person.
namespace Ui {

enum class Icon { None, Critical, Question, Information };
enum class Buttons { Ok, OkCancel };
enum class Answer { Ok, Cancel };

Answer msgBox(const QString &text, Buttons buttons = Buttons::Ok, Icon icon = Icon::None, QWidget *parent = nullptr);

// The text typed, or nothing when the user cancelled.
std::optional<QString> inputBox(const QString &prompt, const QString &defaultText, QWidget *parent = nullptr);

namespace testing {

struct Shown
{
    bool prompt = false;
    QString title;
    QString text;
    QString defaultText;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
};

// While answers are queued, boxes are not shown: each takes the next answer and is recorded.
void queueAnswer(Answer a);
void queueInput(std::optional<QString> text);
// Runs while a queued box or prompt is open, as window messages would.
void whileOpen(std::function<void()> fn);
const std::vector<Shown> &shown();
void reset();

} // namespace testing
} // namespace Ui
