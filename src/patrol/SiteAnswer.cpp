#include "patrol/SiteAnswer.h"

#include "patrol/Browser.h"
#include "patrol/HostPace.h"
#include "patrol/Visit.h"

using namespace Qt::StringLiterals;

namespace SiteAnswer {

void read(Browser &browser, Visit &visit, qint64 now)
{
    const int status = visit.load.httpStatus;
    if (!visit.load.documentArrived() || (status != 403 && status != 429 && status != 503))
        return;
    const std::optional<QStringList> headers = browser.answerHeaders({u"Retry-After"_s, u"cf-mitigated"_s});
    if (headers && status != 403) {
        if (const std::optional<qint64> at = HostPace::retryAt(headers->at(0), now))
            visit.retryAt = *at;
    }
    visit.challenge = headers && headers->at(1).trimmed().compare(u"challenge"_s, Qt::CaseInsensitive) == 0;
    if (!visit.challenge)
        visit.challenge = browser.challengeShown().value_or(false);
}

} // namespace SiteAnswer
