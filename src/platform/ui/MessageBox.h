#pragma once

#include <QObject>
#include <QString>

#include <optional>

class QWidget;

// Message boxes and the input prompt. They always carry the application title and never a title
// of their own. Tests queue answers (MessageBoxTesting.h) so that no modal box waits for a person.
namespace Ui {

enum class Icon { None, Critical, Question, Information };
enum class Buttons { Ok, OkCancel };
enum class Answer { Ok, Cancel };

Answer msgBox(const QString &text, Buttons buttons = Buttons::Ok, Icon icon = Icon::None, QWidget *parent = nullptr);

// A line under a prompt's field that tells something about the text while it is typed.
class InputPreview : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // The text as the prompt opens, and again whenever the typing pauses. The line comes by
    // lineChanged(), at once or later; a later call makes what an earlier one still works on moot.
    virtual void preview(const QString &text) = 0;

    // How long the typing must pause before the text is previewed.
    static constexpr int kPauseMs = 200;

Q_SIGNALS:
    void lineChanged(const QString &line);
};

// The text typed, or nothing when the user cancelled. With a preview, its line stands under the
// field.
std::optional<QString> inputBox(
    const QString &prompt, const QString &defaultText, QWidget *parent = nullptr, InputPreview *preview = nullptr);

} // namespace Ui
