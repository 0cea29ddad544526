// Width conversions: any text converts, narrowing twice is narrowing once, and no full-width
// ASCII form outlives narrow nor printable ASCII outlives wide.
#include "FuzzSupport.h"
#include "platform/Width.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::utf16(data, size);
    const QString narrowed = width::narrow(text);
    fuzz::check(width::narrow(narrowed) == narrowed, "narrow(narrow(x)) == narrow(x)", fuzz::shown(text));
    for (QChar c : narrowed) {
        const char16_t u = c.unicode();
        fuzz::check(
            u == 0xFF3C || u < 0xFF01 || u > 0xFF5E, "narrow leaves no full-width ASCII but ＼", fuzz::shown(text));
        fuzz::check(u != 0x3000, "narrow leaves no ideographic space", fuzz::shown(text));
    }
    const QString widened = width::wide(text);
    for (QChar c : widened) {
        const char16_t u = c.unicode();
        fuzz::check(u == u'\\' || u < 0x20 || u > 0x7E, "wide leaves no printable ASCII but \\", fuzz::shown(text));
    }
    return 0;
}
