#pragma once

#include "platform/ui/MessageBox.h"

#include <functional>
#include <optional>
#include <vector>

// For tests only: while answers are queued, boxes and prompts are not shown; each takes the next
// answer and is recorded.
namespace Ui::testing {

struct Shown
{
    bool prompt = false;
    QString title;
    QString text;
    QString defaultText;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
    // A prompt's preview line, settled, for the text it answered with (the default if cancelled);
    // empty unless settlePreviewsBy() says how.
    QString preview;
};

void queueAnswer(Answer a);
void queueInput(std::optional<QString> text);
// Runs while a queued box or prompt is open, as window messages would.
void whileOpen(std::function<void()> fn);
// How a queued prompt learns its preview's line once all the preview's work is done, without
// waiting for window messages.
void settlePreviewsBy(std::function<QString(InputPreview &preview, const QString &text)> settle);
const std::vector<Shown> &shown();
void reset();

} // namespace Ui::testing
