#pragma once

#include <QRect>
#include <QString>
#include <QWidget>

// Control positions are given in twips, as the windows were laid out: 15 twips make one pixel at
// 96 dpi, and Qt scales from there.
namespace Ui {

constexpr int twipsToPixels(int twips)
{
    return twips / 15;
}

inline QRect twips(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

// A new child control with its name (the name the code and the tests know it by) and position.
template<typename W> W *place(QWidget *parent, const QString &name, const QRect &geometry)
{
    auto *w = new W(parent);
    w->setObjectName(name);
    w->setGeometry(geometry);
    return w;
}

} // namespace Ui
