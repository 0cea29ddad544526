#include "survey/Survey.h"

#include "patrol/Browser.h"
#include "platform/AppTitle.h"
#include "platform/MessagePump.h"
#include "platform/ui/MessageBox.h"
#include "survey/OsVersion.h"
#include "survey/SurveyForm.h"

#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QListWidget>
#include <QUrl>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Survey {
namespace {

QStringList rows(const QListWidget *list)
{
    QStringList texts;
    if (!list)
        return texts;
    texts.reserve(list->count());
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

} // namespace

QString surveyAddress()
{
    return QString::fromUtf8(KORVANI_SURVEY_URL);
}

QString webSiteAddress()
{
    return QString::fromUtf8(KORVANI_WEBSITE_URL);
}

QString consentText()
{
    return QStringList {u"より良いソフト作りの為に、アンケートにご協力ください。"_s,
        u"以下の項目をORBELL管理サーバーへ送信します。その他の個人情報の送信はありません。"_s, QString(),
        u"Windows バージョン"_s, u"検索単語リスト"_s, u"対象URLリスト"_s}
        .join(u'\n');
}

void PostForm(
    Browser &browser, const QString &address, const QStringList &names, const QStringList &values, const Wait &wait)
{
    browser.navigate2(address, formBody(names, values), QString::fromLatin1(kHeaderLine));
    // At the limit we only stop waiting: the load may by now be a patrol step's page, which
    // must not be stopped on our account.
    const QDeadlineTimer deadline(wait.limit);
    while (browser.busy() && !deadline.hasExpired()) {
        if (wait.goOn && !wait.goOn())
            return;
        pump::waitForEvents(int(std::min<qint64>(deadline.remainingTime(), 100)));
    }
}

bool SendSurvey(const QListWidget *keyWords, const QListWidget *urls, Browser &browser, QWidget *parent,
    const QString &address, const Wait &wait)
{
    if (Ui::msgBox(consentText(), Ui::Buttons::OkCancel, Ui::Icon::Information, parent) != Ui::Answer::Ok)
        return false;
    const Fields f = surveyFields(rows(keyWords), rows(urls), AppTitle::version(), osVersion());
    PostForm(browser, address, f.names, f.values, wait);
    return true;
}

void OpenWebSite(const QString &address)
{
    QDesktopServices::openUrl(QUrl(address));
}

} // namespace Survey
