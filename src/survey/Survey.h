#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

class Browser;
class QListWidget;
class QWidget;

// The usage survey posted to the maker, and the maker's web site.
namespace Survey {

// The addresses this build was configured with.
QString surveyAddress();
QString webSiteAddress();

// The six lines of the consent box.
QString consentText();

inline constexpr auto kHeaderLine = "Content-type: application/x-www-form-urlencoded\r\n";

struct Wait
{
    // An unreachable server must not hold the handler for ever.
    std::chrono::milliseconds limit = std::chrono::seconds(60);
    // Asked between polls; false ends the wait at once, as when the window is closing.
    std::function<bool()> goOn = nullptr;
};

// Posts the form through the browser, which shows the answer, and waits while it is busy.
void PostForm(Browser &browser, const QString &address, const QStringList &names, const QStringList &values,
    const Wait &wait = {});

// Asks for consent and posts the survey of the two lists. False when the user cancelled.
bool SendSurvey(const QListWidget *keyWords, const QListWidget *urls, Browser &browser, QWidget *parent,
    const QString &address, const Wait &wait = {});

// Opens the address with the desktop's own handler; whether it could is not looked at.
void OpenWebSite(const QString &address);

} // namespace Survey
