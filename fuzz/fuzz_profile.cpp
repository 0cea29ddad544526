// The settings file reader: any bytes come back unchanged, and a value written is read back by
// the profile rules (blanks at the ends dropped, one pair of enclosing quotes removed).
#include "FuzzSupport.h"
#include "platform/CodePage932.h"
#include "settings/PrivateProfile.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

const char *const kSections[] = {"MAIL", "mail", "S", "RIREKI", "\x83\x5D\x8C\xA9", "[x", "a b"};
const char *const kKeys[] = {"TO", "to", "k", "KEY0", "TEXT500", "\x82\x60", "x y"};

QByteArray name(FuzzedDataProvider &in, const char *const *fixed, size_t count, bool utf16)
{
    if (in.ConsumeBool()) {
        // The fixed names are code page 932; a UTF-16LE file holds them as text.
        const QByteArray n = fixed[in.ConsumeIntegralInRange<size_t>(0, count - 1)];
        return utf16 ? PrivateProfile::utf16Text(cp932::decode(n)) : n;
    }
    // A name of letters and digits, or Japanese text in the file's own form.
    QByteArray n;
    const size_t length = in.ConsumeIntegralInRange<size_t>(1, 8);
    for (size_t i = 0; i < length; ++i) {
        const int c = in.ConsumeIntegralInRange<int>(0, 63);
        if (c < 62)
            n.append("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"[c]);
        else
            n.append(utf16 ? QStringLiteral("値").toUtf8() : cp932::encode(u"値"));
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray file = fuzz::bytes(data, size);
    const PrivateProfile parsed = PrivateProfile::parse(file);
    fuzz::check(parsed.serialize() == file, "parse(bytes).serialize() == bytes", file.toHex());

    // The same input read another way: a write into a file, then reads.
    FuzzedDataProvider in(data, size);
    const bool asUtf16 = in.ConsumeBool();
    const std::string valueSource = in.ConsumeRandomLengthString(64);
    QByteArray before = QByteArray::fromStdString(in.ConsumeRemainingBytesAsString());
    if (asUtf16)
        before.prepend("\xFF\xFE", 2);
    PrivateProfile p = PrivateProfile::parse(before);
    FuzzedDataProvider names(reinterpret_cast<const uint8_t *>(valueSource.data()), valueSource.size());
    const QByteArray section = name(names, kSections, std::size(kSections), p.isUtf16());
    const QByteArray key = name(names, kKeys, std::size(kKeys), p.isUtf16());
    QByteArray value;
    if (p.isUtf16()) {
        // The caller hands over text: any UTF-16, lone surrogates included.
        QString text = fuzz::utf16(reinterpret_cast<const uint8_t *>(valueSource.data()), valueSource.size());
        text.remove(u'\r');
        text.remove(u'\n');
        value = PrivateProfile::utf16Text(text);
    } else {
        value = QByteArray::fromStdString(valueSource);
        value.replace('\r', "");
        value.replace('\n', "");
    }
    p.setValue(section, key, value);
    const QByteArray expected = PrivateProfile::unquoted(PrivateProfile::trimmed(value)).toByteArray();
    const QByteArray detail
        = "section " + section.toHex() + " key " + key.toHex() + " value " + value.toHex() + " file " + before.toHex();
    fuzz::check(p.value(section, key) == expected, "a value written reads back", detail);
    const QByteArray saved = p.serialize();
    fuzz::check(PrivateProfile::parse(saved).value(section, key) == expected, "a value saved reads back", detail);
    fuzz::check(PrivateProfile::parse(saved).serialize() == saved, "a saved file comes back unchanged", detail);
    // A key the write did not name keeps its value.
    const std::optional<QByteArray> other = PrivateProfile::parse(before).value("MAIL", "SMTP_SERVER");
    if (key.toUpper() != "SMTP_SERVER" || section.toUpper() != "MAIL")
        fuzz::check(PrivateProfile::parse(saved).value("MAIL", "SMTP_SERVER") == other, "other keys keep", detail);
    return 0;
}
