#pragma once

class QLocale;
class QTranslator;

namespace Ui {

// Qt's own texts (the standard buttons of boxes and prompts) in the language of the locale, from
// the translations the system has for Qt. The program's own texts are never translated. The
// translator belongs to the application; nothing when the system has none for that language.
QTranslator *installQtTranslations(const QLocale &locale);

} // namespace Ui
