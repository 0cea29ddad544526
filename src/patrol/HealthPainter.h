#pragma once

#include "patrol/TargetHealth.h"

#include <QObject>

#include <functional>

class QListWidget;
class QListWidgetItem;

// Shows each target's health on its rows of the target list: its colour says whether its last
// visit worked, its tooltip what is known of it.
class HealthPainter : public QObject
{
public:
    // What is known of an address, or nullptr.
    using Lookup = std::function<const TargetHealth::State *(const QString &address)>;

    HealthPainter(QListWidget *targets, Lookup lookup, QObject *parent = nullptr);

    // Every row that shows the address.
    void paint(const QString &address);
    // More lines for a row's tooltip, such as its schedule; empty for none.
    void setMore(std::function<QString(const QString &address)> more) { m_more = std::move(more); }

private:
    void paint(QListWidgetItem *item);

    QListWidget *m_targets;
    Lookup m_lookup;
    std::function<QString(const QString &address)> m_more;
    bool m_painting = false;
};
