#include "platform/CodePage932.h"

#include <unicode/ucnv.h>

#include <array>
#include <memory>
#include <vector>

namespace cp932 {
namespace {

// Tables built once from ICU's "windows-932" converter. ICU swaps the control bytes 0x1A, 0x1C
// and 0x7F against Windows, so the single-byte half is ours.
struct Tables
{
    // Double-byte decode: index (lead - 0x80) * 256 + trail; 0 means not mapped.
    std::vector<char16_t> dbcs = std::vector<char16_t>(128 * 256, 0);
    // Encode of the whole BMP: 0 = no form, < 0x100 a single byte, otherwise lead << 8 | trail.
    std::vector<quint16> enc = std::vector<quint16>(0x10000, 0);

    Tables()
    {
        UErrorCode st = U_ZERO_ERROR;
        std::unique_ptr<UConverter, void (*)(UConverter *)> conv(ucnv_open("windows-932", &st), ucnv_close);
        if (U_FAILURE(st) || !conv)
            return;
        ucnv_setToUCallBack(conv.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &st);
        ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &st);

        for (int lead = 0x81; lead <= 0xFC; ++lead) {
            if (!isLeadByte(static_cast<unsigned char>(lead)))
                continue;
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                if (!isTrailByte(static_cast<unsigned char>(trail)))
                    continue;
                const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                UChar out[4];
                st = U_ZERO_ERROR;
                ucnv_reset(conv.get());
                const int32_t n = ucnv_toUChars(conv.get(), out, 4, in, 2, &st);
                if (U_FAILURE(st) || n != 1)
                    continue;
                dbcs[(lead - 0x80) * 256 + trail] = out[0];
                if (enc[out[0]] != 0)
                    continue;
                // Several byte pairs share a character (NEC and IBM rows); the converter's own
                // direction gives the pair Windows writes.
                char back[4];
                st = U_ZERO_ERROR;
                ucnv_reset(conv.get());
                const int32_t m = ucnv_fromUChars(conv.get(), back, 4, &out[0], 1, &st);
                if (U_SUCCESS(st) && m == 2)
                    enc[out[0]] = static_cast<quint16>(
                        (static_cast<unsigned char>(back[0]) << 8) | static_cast<unsigned char>(back[1]));
            }
        }
        for (int b = 0; b < 0x80; ++b)
            enc[b] = static_cast<quint16>(b);
        for (int b = 0xA1; b <= 0xDF; ++b)
            enc[0xFF61 + (b - 0xA1)] = static_cast<quint16>(b);

        // Windows' best-fit forms for characters outside the code page.
        enc[0x00A5] = 0x5C;
        enc[0x00A2] = 0x8191;
        enc[0x00A3] = 0x8192;
        enc[0x00AC] = 0x81CA;
        for (char32_t u = 0xC0; u < 0x250; ++u) {
            if (enc[u] != 0)
                continue;
            const QString d = QChar(static_cast<char16_t>(u)).decomposition();
            if (d.size() >= 2 && d.at(0).unicode() < 0x80 && QChar(d.at(1)).isMark()
                && QChar(static_cast<char16_t>(u)).decompositionTag() == QChar::Canonical)
                enc[u] = d.at(0).unicode();
        }
    }
};

const Tables &tables()
{
    static const Tables t;
    return t;
}

} // namespace

QByteArray encode(QStringView text)
{
    const Tables &t = tables();
    QByteArray out;
    out.reserve(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
            ++i; // a character beyond the BMP has no form here
            out.append('?');
            continue;
        }
        const quint16 e = t.enc[c];
        if (e == 0 && c != 0) {
            out.append('?');
        } else if (e < 0x100) {
            out.append(static_cast<char>(e));
        } else {
            out.append(static_cast<char>(e >> 8));
            out.append(static_cast<char>(e & 0xFF));
        }
    }
    return out;
}

qsizetype encodedLength(QStringView text)
{
    const Tables &t = tables();
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode()))
            ++i;
        n += t.enc[c] >= 0x100 ? 2 : 1;
    }
    return n;
}

QString decode(QByteArrayView bytes)
{
    const Tables &t = tables();
    QString out;
    out.reserve(bytes.size());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            out.append(QChar(char16_t(b)));
        } else if (b >= 0xA1 && b <= 0xDF) {
            out.append(QChar(static_cast<char16_t>(0xFF61 + (b - 0xA1))));
        } else if (isLeadByte(b) && i + 1 < n && isTrailByte(static_cast<unsigned char>(bytes[i + 1]))) {
            const auto trail = static_cast<unsigned char>(bytes[i + 1]);
            const char16_t u = t.dbcs[(b - 0x80) * 256 + trail];
            out.append(u ? QChar(u) : QChar(QChar::ReplacementCharacter));
            ++i;
        } else {
            out.append(QChar(QChar::ReplacementCharacter));
        }
    }
    return out;
}

QByteArray truncate(QByteArrayView bytes, qsizetype maxBytes)
{
    if (bytes.size() <= maxBytes)
        return bytes.toByteArray();
    qsizetype i = 0;
    while (i < maxBytes) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const qsizetype w = (isLeadByte(b) && i + 1 < bytes.size()) ? 2 : 1;
        if (i + w > maxBytes)
            break; // a lone lead byte is dropped
        i += w;
    }
    return bytes.first(i).toByteArray();
}

} // namespace cp932
