#pragma once

#include <QByteArray>
#include <QString>

// Text in the encoding of the user's locale, as the command line and the terminal carry it. Qt
// takes UTF-8 for granted there; a Japanese locale may be EUC-JP or Shift_JIS.
namespace localetext {

QString decode(const QByteArray &bytes);
QByteArray encode(const QString &text);

} // namespace localetext
