#include "platform/LocaleText.h"

#include <QStringDecoder>
#include <QStringEncoder>

#if defined(__unix__)
#include <clocale>
#include <langinfo.h>
#endif

namespace localetext {
namespace {

// The locale's character set, or nothing where UTF-8 serves: an ASCII locale ("C") is taken as
// UTF-8, as Qt takes it, since its users type UTF-8 all the same.
QByteArray codeset()
{
    static const QByteArray name = [] {
#if defined(__unix__)
        std::setlocale(LC_CTYPE, "");
        const QByteArray set = nl_langinfo(CODESET);
        const QByteArray upper = set.toUpper();
        if (upper == "UTF-8" || upper == "UTF8" || upper == "ANSI_X3.4-1968" || upper == "US-ASCII" || set.isEmpty())
            return QByteArray();
        return set;
#else
        return QByteArray();
#endif
    }();
    return name;
}

} // namespace

QString decode(const QByteArray &bytes)
{
    const QByteArray set = codeset();
    if (!set.isEmpty()) {
        QStringDecoder decoder(set.constData());
        if (decoder.isValid())
            return decoder.decode(bytes);
    }
    return QString::fromLocal8Bit(bytes);
}

QByteArray encode(const QString &text)
{
    const QByteArray set = codeset();
    if (!set.isEmpty()) {
        QStringEncoder encoder(set.constData());
        if (encoder.isValid())
            return encoder.encode(text);
    }
    return text.toLocal8Bit();
}

} // namespace localetext
