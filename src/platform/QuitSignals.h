#pragma once

#include <QObject>

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the user-interface thread, so that the
// program can close its main window normally (and save) when the session or a terminal ends it.
class QuitSignals : public QObject
{
    Q_OBJECT
public:
    // One instance per process; later calls return the same one.
    static QuitSignals *install();

    // The number of the signal that arrived last, 0 when none has.
    int lastSignal() const { return m_last; }

Q_SIGNALS:
    void quitRequested(int signalNumber);

private:
    explicit QuitSignals(QObject *parent = nullptr);
    void readPipe();
    int m_last = 0;
};
