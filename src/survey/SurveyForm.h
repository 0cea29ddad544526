#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

// The survey form as plain values: which fields go out, and the bytes of the posted body.
namespace Survey {

// Field names and values side by side, in the order they are posted.
struct Fields
{
    QStringList names;
    QStringList values;
};

// VERSION and OS, then one KEYnn per non-empty condition in its wide form and one URLnn per
// non-empty target as it stands. nn is the row, so empty rows leave gaps in the numbering.
Fields surveyFields(
    const QStringList &conditions, const QStringList &targets, const QString &version, const QString &os);

// "+", then "=", then "&" become %2B, %3D and %26; nothing else is touched.
QString escapeValue(QStringView value);

// name=value pairs joined by "&", in code page 932. A name without a value is sent empty.
QByteArray formBody(const QStringList &names, const QStringList &values);

} // namespace Survey
