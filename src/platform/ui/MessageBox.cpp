#include "platform/ui/MessageBox.h"

#include "platform/AppTitle.h"
#include "platform/ui/MessageBoxTesting.h"

#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QVBoxLayout>

#include <deque>
#include <utility>

namespace Ui {
namespace {

struct Hook
{
    std::deque<Answer> answers;
    std::deque<std::pair<bool, QString>> inputs; // (accepted, text)
    std::vector<testing::Shown> shown;
    std::function<void()> whileOpen;
    std::function<QString(InputPreview &, const QString &)> settle;
};

void runWhileOpen(Hook &h)
{
    if (h.whileOpen)
        std::exchange(h.whileOpen, nullptr)();
}

// Qt breaks lines at LF only; the texts are written with CR LF.
QString forDisplay(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

Hook &hook()
{
    static Hook h;
    return h;
}

QMessageBox::Icon toQt(Icon i)
{
    switch (i) {
    case Icon::Critical:
        return QMessageBox::Critical;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

Answer msgBox(const QString &text, Buttons buttons, Icon icon, QWidget *parent)
{
    Hook &h = hook();
    if (!h.answers.empty()) {
        h.shown.push_back({false, AppTitle::get(), text, {}, icon, buttons, {}});
        const Answer a = h.answers.front();
        h.answers.pop_front();
        runWhileOpen(h);
        return a;
    }
    QMessageBox box(toQt(icon), AppTitle::get(), forDisplay(text),
        buttons == Buttons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok, parent);
    box.setEscapeButton(buttons == Buttons::OkCancel ? QMessageBox::Cancel : QMessageBox::Ok);
    // Texts here come from web pages too: a "<b>" in a line is shown, never rendered.
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Ok ? Answer::Ok : Answer::Cancel;
}

namespace {

// The input prompt with a line under its field, laid out as the plain one: prompt, field, buttons.
std::optional<QString> previewedInputBox(
    const QString &prompt, const QString &defaultText, QWidget *parent, InputPreview *preview)
{
    QDialog dlg(parent);
    dlg.setWindowTitle(AppTitle::get());
    auto *layout = new QVBoxLayout(&dlg);
    auto *label = new QLabel(forDisplay(prompt), &dlg);
    label->setTextFormat(Qt::PlainText);
    auto *field = new QLineEdit(defaultText, &dlg);
    field->selectAll();
    label->setBuddy(field);
    auto *line = new QLabel(&dlg);
    line->setObjectName(QStringLiteral("preview"));
    // Condition text and engine messages, never markup.
    line->setTextFormat(Qt::PlainText);
    line->setWordWrap(true);
    line->setMinimumHeight(2 * line->fontMetrics().lineSpacing());
    line->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    layout->addWidget(label);
    layout->addWidget(field);
    layout->addWidget(line);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);

    QTimer pause;
    pause.setSingleShot(true);
    pause.setInterval(InputPreview::kPauseMs);
    QObject::connect(field, &QLineEdit::textChanged, &pause, qOverload<>(&QTimer::start));
    QObject::connect(&pause, &QTimer::timeout, preview, [preview, field] { preview->preview(field->text()); });
    QObject::connect(preview, &InputPreview::lineChanged, line, &QLabel::setText);
    preview->preview(defaultText);
    const bool accepted = dlg.exec() == QDialog::Accepted;
    // Whatever the preview still works on must not reach a closed prompt.
    QObject::disconnect(preview, nullptr, line, nullptr);
    if (!accepted)
        return std::nullopt;
    return field->text();
}

} // namespace

std::optional<QString> inputBox(
    const QString &prompt, const QString &defaultText, QWidget *parent, InputPreview *preview)
{
    Hook &h = hook();
    if (!h.inputs.empty()) {
        h.shown.push_back({true, AppTitle::get(), prompt, defaultText, Icon::None, Buttons::OkCancel, {}});
        const auto [accepted, text] = h.inputs.front();
        h.inputs.pop_front();
        if (preview && h.settle)
            h.shown.back().preview = h.settle(*preview, accepted ? text : defaultText);
        runWhileOpen(h);
        if (!accepted)
            return std::nullopt;
        return text;
    }
    if (preview)
        return previewedInputBox(prompt, defaultText, parent, preview);
    QInputDialog dlg(parent);
    dlg.setWindowTitle(AppTitle::get());
    dlg.setInputMode(QInputDialog::TextInput);
    dlg.setLabelText(forDisplay(prompt));
    dlg.setTextValue(defaultText);
    dlg.setTextEchoMode(QLineEdit::Normal);
    if (dlg.exec() != QDialog::Accepted)
        return std::nullopt;
    return dlg.textValue();
}

namespace testing {

void queueAnswer(Answer a)
{
    hook().answers.push_back(a);
}

void queueInput(std::optional<QString> text)
{
    hook().inputs.emplace_back(text.has_value(), text.value_or(QString()));
}

const std::vector<Shown> &shown()
{
    return hook().shown;
}

void whileOpen(std::function<void()> fn)
{
    hook().whileOpen = std::move(fn);
}

void settlePreviewsBy(std::function<QString(InputPreview &preview, const QString &text)> settle)
{
    hook().settle = std::move(settle);
}

void reset()
{
    hook() = Hook {};
}

} // namespace testing
} // namespace Ui
