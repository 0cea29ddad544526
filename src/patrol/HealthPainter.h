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

private:
    void paint(QListWidgetItem *item);

    QListWidget *m_targets;
    Lookup m_lookup;
    bool m_painting = false;
};
