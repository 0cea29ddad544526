#pragma once

#include <QtGlobal>

class Browser;
struct Visit;

// What a site's refusal says beyond its status: a 429 or 503 may name when to come back
// (Retry-After), and a 403, 429 or 503 may be a bot check rather than the page. Asked only of
// those answers, since it costs the host one more request.
namespace SiteAnswer {

void read(Browser &browser, Visit &visit, qint64 now);

} // namespace SiteAnswer
