#pragma once

#include <QFont>
#include <QLabel>
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

// A caption whose text starts at its top edge, as the positions expect: a centred line would sink
// into the control below it.
inline QLabel *label(QWidget *parent, const QString &name, const QString &text, const QRect &geometry)
{
    QLabel *l = place<QLabel>(parent, name, geometry);
    l->setText(text);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

// The window font the positions were made for: the 9-point Japanese UI font, or its IPA stand-in.
inline QFont windowFont(QFont font)
{
    font.setFamilies({QStringLiteral("MS UI Gothic"), QStringLiteral("IPAPGothic"), QStringLiteral("IPAPゴシック")});
    font.setPointSize(9);
    return font;
}

} // namespace Ui
