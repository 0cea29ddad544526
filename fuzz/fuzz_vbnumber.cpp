// Reading numbers: any text reads or not, and the whole-number conversions agree with the value
// read.
#include "FuzzSupport.h"
#include "platform/VbNumber.h"

#include <cmath>

namespace {

void wholeAgrees(const vb::WholeNumber &w, const std::optional<double> &v, double lo, double hi, const QString &t)
{
    const QByteArray shown = fuzz::shown(t);
    switch (w.status) {
    case vb::Conversion::TypeMismatch:
        fuzz::check(!v, "a type mismatch is text that reads as no number", shown);
        break;
    case vb::Conversion::Overflow:
        fuzz::check(v && !(std::nearbyint(*v) >= lo && std::nearbyint(*v) <= hi), "an overflow is out of range", shown);
        break;
    case vb::Conversion::Ok:
        fuzz::check(v && std::fabs(w.value - *v) <= 0.5 && w.value >= lo && w.value <= hi,
            "a whole number is the value rounded", shown);
        fuzz::check(std::fabs(w.value - *v) < 0.5 || w.value % 2 == 0, "halves go to the even neighbour", shown);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::typed(data, size);
    const std::optional<double> v = vb::parseNumber(text);
    fuzz::check(vb::readsAsNumber(text) == v.has_value(), "readsAsNumber agrees with parseNumber");
    if (v)
        fuzz::check(!std::isnan(*v), "a number read is a number", fuzz::shown(text));
    const vb::WholeNumber w16 = vb::toInt16(text);
    const vb::WholeNumber w32 = vb::toInt32(text);
    wholeAgrees(w16, v, -32768.0, 32767.0, text);
    wholeAgrees(w32, v, -2147483648.0, 2147483647.0, text);
    if (w16.ok())
        fuzz::check(w32.ok() && w32.value == w16.value, "16 and 32 bits agree", fuzz::shown(text));
    return 0;
}
