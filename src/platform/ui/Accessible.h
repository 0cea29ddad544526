#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>

namespace Ui {

// A control without a caption of its own is known to screen readers by the label beside it: its
// name is the label's text without the colon that ends it.
inline void nameAfter(QLabel *label, QWidget *control)
{
    QString name = label->text().trimmed();
    while (name.endsWith(u'\uFF1A') || name.endsWith(u':'))
        name.chop(1);
    control->setAccessibleName(name);
    label->setBuddy(control);
}

} // namespace Ui
