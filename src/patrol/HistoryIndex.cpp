#include "patrol/HistoryIndex.h"

#include "platform/CodePage932.h"
#include "settings/clINI.h"

#include <QListWidget>

namespace {

// Entries recorded in this run carry the token of their mail; loaded ones carry none.
constexpr int kMailTokenRole = Qt::UserRole + 1;

} // namespace

HistoryIndex::HistoryIndex(QListWidget *history, QObject *parent)
    : QObject(parent)
    , m_list(history)
{
    QAbstractItemModel *model = history->model();
    auto changed = [this] {
        if (!m_ownInsert)
            m_dirty = true;
    };
    connect(model, &QAbstractItemModel::rowsInserted, this, changed);
    connect(model, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(model, &QAbstractItemModel::rowsMoved, this, changed);
    connect(model, &QAbstractItemModel::dataChanged, this, changed);
    connect(model, &QAbstractItemModel::modelReset, this, changed);
    connect(model, &QAbstractItemModel::layoutChanged, this, changed);
}

QByteArray HistoryIndex::storedKey(QStringView line)
{
    // A cut may split a double-byte character; both sides of a comparison are cut alike.
    QByteArray bytes = cp932::encode(line);
    bytes.truncate(kIdentityBytes);
    return bytes;
}

QByteArray HistoryIndex::loadedKey(QStringView line)
{
    QByteArray bytes = clINI::StoredBytes(line.toString());
    bytes.truncate(kIdentityBytes);
    return bytes;
}

QByteArray HistoryIndex::exactKey(QStringView line)
{
    QByteArray bytes = cp932::encode(line);
    if (bytes.count('?') == line.count(u'?')) {
        bytes.truncate(kIdentityBytes);
        return bytes;
    }
    // 0xFF is no byte of code page 932, so the escape cannot meet a real character.
    QByteArray exact;
    for (char32_t cp : line.toUcs4()) {
        const QString one = QString::fromUcs4(&cp, 1);
        const QByteArray enc = cp932::encode(one);
        if (enc == "?" && cp != U'?') {
            exact.append(char(0xFF));
            for (int shift = 24; shift >= 0; shift -= 8)
                exact.append(char((cp >> shift) & 0xFF));
        } else {
            exact.append(enc);
        }
        if (exact.size() >= kIdentityBytes)
            break;
    }
    exact.truncate(kIdentityBytes);
    return exact;
}

void HistoryIndex::add(const QListWidgetItem *item)
{
    if (item->data(kMailTokenRole).isValid())
        m_exact.insert(exactKey(item->text()));
    else
        m_stored.insert(storedKey(item->text()));
}

void HistoryIndex::rebuild()
{
    m_stored.clear();
    m_exact.clear();
    m_stored.reserve(m_list->count());
    for (int i = 0; i < m_list->count(); ++i)
        add(m_list->item(i));
    m_dirty = false;
}

bool HistoryIndex::contains(QStringView line)
{
    if (m_dirty)
        rebuild();
    return m_stored.contains(loadedKey(line)) || m_exact.contains(exactKey(line));
}

void HistoryIndex::insertTop(const QString &line, quint64 mailToken)
{
    auto *item = new QListWidgetItem(line);
    item->setData(kMailTokenRole, mailToken);
    m_ownInsert = true;
    m_list->insertItem(0, item);
    m_ownInsert = false;
    if (!m_dirty)
        add(item);
}

std::optional<quint64> HistoryIndex::mailToken(const QListWidgetItem *item)
{
    const QVariant token = item->data(kMailTokenRole);
    return token.isValid() ? std::optional<quint64>(token.toULongLong()) : std::nullopt;
}

int HistoryIndex::removeMail(quint64 mailToken)
{
    int removed = 0;
    for (int i = m_list->count() - 1; i >= 0; --i) {
        const QVariant token = m_list->item(i)->data(kMailTokenRole);
        if (token.isValid() && token.toULongLong() == mailToken) {
            delete m_list->takeItem(i);
            ++removed;
        }
    }
    return removed;
}
