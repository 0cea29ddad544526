#include "patrol/HitRow.h"

#include "platform/Clip.h"

#include <QListWidget>

using namespace Qt::StringLiterals;

namespace HitRow {
namespace {

constexpr int kConditionsRole = Qt::UserRole + 1;

} // namespace

QString condition(int position, const QString &text)
{
    return u"%1番目「%2」"_s.arg(position + 1).arg(clipped(text, 100));
}

QStringList conditions(const QListWidget *keywords, const QList<int> &positions)
{
    QStringList out;
    for (int position : positions) {
        if (const QListWidgetItem *row = keywords->item(position))
            out.append(condition(position, row->text()));
    }
    return out;
}

void setConditions(QListWidgetItem *row, const QStringList &conditions)
{
    row->setData(kConditionsRole, conditions);
}

QString explanation(const QListWidgetItem *row)
{
    const QStringList hitBy = row->data(kConditionsRole).toStringList();
    if (hitBy.isEmpty())
        return {};
    const bool isNew = row->text().startsWith(u'\u25CF');
    return u"ヒットした検索単語："_s + hitBy.join(u"、"_s) + u'\n' + (isNew ? u"新着"_s : u"送信済み"_s);
}

} // namespace HitRow
