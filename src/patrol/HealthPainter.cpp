#include "patrol/HealthPainter.h"

#include "patrol/HealthTexts.h"

#include <QListWidget>

namespace {

const QColor kWorking(0, 128, 0);
const QColor kFailing(200, 0, 0);

} // namespace

HealthPainter::HealthPainter(QListWidget *targets, Lookup lookup, QObject *parent)
    : QObject(parent)
    , m_targets(targets)
    , m_lookup(std::move(lookup))
{
    // A row given another address shows what is known of that one, or nothing.
    connect(targets->model(), &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex &from, const QModelIndex &to, const QList<int> &roles) {
            if (m_painting || (!roles.isEmpty() && !roles.contains(Qt::DisplayRole)))
                return;
            for (int row = from.row(); row <= to.row(); ++row) {
                if (QListWidgetItem *item = m_targets->item(row))
                    paint(item);
            }
        });
}

void HealthPainter::paint(QListWidgetItem *item)
{
    m_painting = true;
    const TargetHealth::State *found = item->text().isEmpty() ? nullptr : m_lookup(item->text());
    QStringList tip;
    if (!found || !found->visited) {
        item->setData(Qt::ForegroundRole, QVariant());
    } else {
        item->setForeground(found->working ? kWorking : kFailing);
        tip.append(HealthTexts::tooltip(*found));
    }
    if (m_more && !item->text().isEmpty())
        tip.append(m_more(item->text()));
    tip.removeAll(QString());
    item->setToolTip(tip.join(u'\n'));
    m_painting = false;
}

void HealthPainter::paint(const QString &address)
{
    for (int row = 0; row < m_targets->count(); ++row) {
        QListWidgetItem *item = m_targets->item(row);
        if (item->text() == address)
            paint(item);
    }
}
