#pragma once

#include <QString>
#include <QStringView>

// The Japanese Windows width conversions.
namespace width {

// Full-width to half-width: ASCII forms, the ideographic space, katakana (voiced letters split
// into letter and mark) and Japanese punctuation. Kanji and hiragana stay.
QString narrow(QStringView text);

// Half-width to full-width: printable ASCII and the space, half-width katakana (a letter and a
// following sound mark composed where a voiced letter exists).
QString wide(QStringView text);

} // namespace width
