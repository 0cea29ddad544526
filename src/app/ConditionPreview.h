#pragma once

#include "patrol/Conditions.h"
#include "platform/ui/MessageBox.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <memory>

class QListWidget;
class TestListCommands;

// The condition prompt's line: whether the condition, narrowed as it will be stored, can be
// used, and how many lines of the extracted-line list it hits in the mode it will run in. It
// counts with a matcher of its own, a slice at a time between window messages, so that neither
// typing nor a page check running meanwhile waits for it; it counts again when the list changes.
class ConditionPreview : public Ui::InputPreview
{
    Q_OBJECT
public:
    explicit ConditionPreview(QListWidget *extractedLines, QObject *parent = nullptr);
    ~ConditionPreview() override;

    void preview(const QString &text) override;

    // Search time a count may take in all before it stops with what it has.
    static constexpr std::chrono::milliseconds kCountLimit {2000};

private:
    struct Count;

    // Its test records the line for the text once all the counting is done, without waiting for
    // window messages.
    friend class ::TestListCommands;
    QString settledLine(const QString &text);

    // The line at once when nothing is to be counted; otherwise the count is set up in m_count.
    std::optional<QString> begin(const QString &text);
    // Counts on for about this long; true when the count is done.
    bool countFor(std::chrono::milliseconds slice);
    QString countLine() const;
    void nextSlice();

    QListWidget *m_lines;
    QString m_text;
    std::unique_ptr<Count> m_count;
    QTimer m_slice;
    QTimer m_listChanged;
};
