#pragma once

#include <QListWidget>

// A list box that can be scrolled horizontally over a fixed width, however short its rows are
// and also when it is empty, so that long lines can be brought into view.
class ExtentListWidget : public QListWidget
{
    Q_OBJECT
public:
    explicit ExtentListWidget(QWidget *parent = nullptr);

    void setHorizontalExtent(int pixels);
    int horizontalExtent() const { return m_extent; }

protected:
    void updateGeometries() override;

private:
    int m_extent = 0;
};
