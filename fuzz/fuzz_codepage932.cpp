// Code page 932: any bytes decode, text it can hold comes back, truncate never splits a
// character, and the length agrees with the bytes.
#include "FuzzSupport.h"
#include "platform/CodePage932.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray in = fuzz::bytes(data, size);
    const QString decoded = cp932::decode(in);
    fuzz::check(decoded.size() <= in.size(), "a byte is at most one character", in.toHex());
    if (!decoded.contains(QChar::ReplacementCharacter))
        fuzz::check(cp932::decode(cp932::encode(decoded)) == decoded, "decode(encode(s)) == s", in.toHex());

    const QString text = fuzz::utf16(data, size);
    const QByteArray encoded = cp932::encode(text);
    fuzz::check(cp932::encodedLength(text) == encoded.size(), "encodedLength agrees with encode", fuzz::shown(text));
    // What encode writes is text it can hold: through decode it gives the same bytes again.
    fuzz::check(
        cp932::encode(cp932::decode(encoded)) == encoded, "encode(decode(encode(s))) == encode(s)", fuzz::shown(text));

    const qsizetype limit = size > 0 ? data[0] % (in.size() + 2) : 0;
    const QByteArray cut = cp932::truncate(in, limit);
    fuzz::check(cut.size() <= limit || in.size() <= limit, "truncate stays within its limit", in.toHex());
    fuzz::check(in.startsWith(cut), "truncate keeps a prefix", in.toHex());
    fuzz::check(
        cut.size() >= std::min<qsizetype>(limit, in.size()) - 1, "truncate drops at most a lead byte", in.toHex());
    fuzz::check(decoded.startsWith(cp932::decode(cut)), "truncate never splits a character", in.toHex());
    return 0;
}
