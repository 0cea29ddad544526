#pragma once

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QStringView>

#include <optional>

class QListWidget;
class QListWidgetItem;

// Which lines the sent history holds. Two lines are the same when the first 1022 bytes of their
// code page 932 forms agree. Entries loaded from the settings file went through code page 932,
// so a character it cannot hold is a "?" there, and a page line is compared with them in that
// form. Entries recorded in this run still hold such characters, and are compared in a form that
// keeps them apart, so that two lines differing only in an emoji are not taken for one.
//
// The index follows the list through its model's signals, so a lookup costs one encoding of the
// line instead of one per entry.
class HistoryIndex : public QObject
{
    Q_OBJECT
public:
    explicit HistoryIndex(QListWidget *history, QObject *parent = nullptr);

    bool contains(QStringView line);
    // Puts the line at the top of the list, marked with the token of the mail it goes into.
    void insertTop(const QString &line, quint64 mailToken);
    // Takes out the entries of that mail, whatever else happened to the list meanwhile.
    int removeMail(quint64 mailToken);
    // The mail an entry of this run went into; none for a loaded one.
    static std::optional<quint64> mailToken(const QListWidgetItem *item);

    static constexpr qsizetype kIdentityBytes = 1022;
    // The identity of a loaded entry: unrepresentable characters became "?" in the file.
    static QByteArray storedKey(QStringView line);
    // The identity a page line takes in the settings file once saved and loaded again, so that
    // it meets its own loaded entry (blanks at its ends and enclosing quotes do not survive).
    static QByteArray loadedKey(QStringView line);
    // The identity with every character kept apart; equal to storedKey() for text that code
    // page 932 holds entirely.
    static QByteArray exactKey(QStringView line);

private:
    void rebuild();
    void add(const QListWidgetItem *item);

    QListWidget *m_list;
    QSet<QByteArray> m_stored;
    QSet<QByteArray> m_exact;
    bool m_dirty = true;
    bool m_ownInsert = false;
};
