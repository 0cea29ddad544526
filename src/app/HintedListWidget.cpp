#include "app/HintedListWidget.h"

#include <QPainter>

using namespace Qt::StringLiterals;

namespace {

// Room between the hint and the edges of the list.
constexpr int kMargin = 6;

} // namespace

HintedListWidget::HintedListWidget(QWidget *parent)
    : QListWidget(parent)
{
    QAbstractItemModel *m = model();
    connect(m, &QAbstractItemModel::rowsInserted, this, &HintedListWidget::refresh);
    connect(m, &QAbstractItemModel::rowsRemoved, this, &HintedListWidget::refresh);
    connect(m, &QAbstractItemModel::dataChanged, this, &HintedListWidget::refresh);
    connect(m, &QAbstractItemModel::modelReset, this, &HintedListWidget::refresh);
}

// The rows go after this part of the list is gone, and the model tells of their going.
HintedListWidget::~HintedListWidget()
{
    model()->disconnect(this);
}

void HintedListWidget::setHint(const QString &hint)
{
    m_hint = hint;
    m_shown = false;
    refresh();
}

void HintedListWidget::refresh()
{
    bool empty = true;
    for (int i = 0; i < count() && empty; ++i)
        empty = item(i)->text().isEmpty();
    const bool shown = empty && !m_hint.isEmpty();
    if (accessibleDescription() != m_setDescription)
        m_ownDescription = accessibleDescription();
    QString description = m_ownDescription;
    if (shown)
        description = m_ownDescription.isEmpty() ? m_hint : m_hint + u"。"_s + m_ownDescription;
    m_setDescription = description;
    if (accessibleDescription() != description)
        setAccessibleDescription(description);
    if (shown != m_shown) {
        m_shown = shown;
        viewport()->update();
    }
}

void HintedListWidget::paintEvent(QPaintEvent *event)
{
    QListWidget::paintEvent(event);
    if (!m_shown)
        return;
    QPainter p(viewport());
    p.setPen(palette().color(QPalette::PlaceholderText));
    p.drawText(
        viewport()->rect().adjusted(kMargin, kMargin, -kMargin, -kMargin), Qt::AlignCenter | Qt::TextWordWrap, m_hint);
}
