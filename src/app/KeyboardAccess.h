#pragma once

#include <QKeySequence>

class Form1;

// The main window without a mouse and with a screen reader: every control is named after its
// visible label, Tab follows the screen from top left to bottom right, and the main commands have
// keys, shown in their tooltips and menus.
namespace KeyboardAccess {

inline QKeySequence runNowKey()
{
    return QKeySequence(Qt::Key_F5);
}
// Starts the countdown when it is stopped, stops it when it runs.
inline QKeySequence startStopKey()
{
    return QKeySequence(Qt::Key_F6);
}
inline QKeySequence settingsKey()
{
    return QKeySequence(Qt::CTRL | Qt::Key_Comma);
}
inline QKeySequence clearHistoryKey()
{
    return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Delete);
}

// A tooltip that names the command and its key.
QString withKey(const QString &text, const QKeySequence &key);

void setUp(Form1 &form);

} // namespace KeyboardAccess
