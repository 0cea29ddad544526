#include "app/ExtentListWidget.h"

#include <QScrollBar>

ExtentListWidget::ExtentListWidget(QWidget *parent)
    : QListWidget(parent)
{
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

void ExtentListWidget::setHorizontalExtent(int pixels)
{
    m_extent = pixels;
    setHorizontalScrollBarPolicy(pixels > 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
    updateGeometries();
}

void ExtentListWidget::updateGeometries()
{
    QListWidget::updateGeometries();
    if (m_extent <= 0)
        return;
    QScrollBar *bar = horizontalScrollBar();
    const int wanted = qMax(0, m_extent - viewport()->width());
    if (bar->maximum() < wanted)
        bar->setRange(0, wanted);
    bar->setPageStep(viewport()->width());
}
