#include "survey/SurveyForm.h"

#include "platform/CodePage932.h"
#include "platform/Width.h"

using namespace Qt::StringLiterals;

namespace Survey {
namespace {

QString slotName(const QString &prefix, qsizetype row)
{
    return prefix + u"%1"_s.arg(row, 2, 10, QChar(u'0'));
}

} // namespace

Fields surveyFields(
    const QStringList &conditions, const QStringList &targets, const QString &version, const QString &os)
{
    Fields f;
    f.names << u"VERSION"_s << u"OS"_s;
    f.values << version << os;
    for (qsizetype i = 0; i < conditions.size(); ++i) {
        if (conditions[i].isEmpty())
            continue;
        f.names << slotName(u"KEY"_s, i);
        f.values << width::wide(conditions[i]);
    }
    for (qsizetype i = 0; i < targets.size(); ++i) {
        if (targets[i].isEmpty())
            continue;
        f.names << slotName(u"URL"_s, i);
        f.values << targets[i];
    }
    return f;
}

QString escapeValue(QStringView value)
{
    QString v = value.toString();
    v.replace(u'+', u"%2B"_s);
    v.replace(u'=', u"%3D"_s);
    v.replace(u'&', u"%26"_s);
    return v;
}

QByteArray formBody(const QStringList &names, const QStringList &values)
{
    QString body;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (!body.isEmpty())
            body += u'&';
        body += names[i] + u'=' + escapeValue(i < values.size() ? values[i] : QString());
    }
    return cp932::encode(body);
}

} // namespace Survey
