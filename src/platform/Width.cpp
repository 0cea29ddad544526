#include "platform/Width.h"

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <array>
#include <memory>

namespace width {
namespace {

// A replacement of at most two UTF-16 units; len 0 means "unchanged".
struct Repl
{
    char16_t c[2] = {0, 0};
    quint8 len = 0;
};

// Conversion tables for the two blocks that hold everything either conversion touches.
struct Block
{
    char16_t first;
    char16_t last;
};
constexpr Block kCjk {0x3000, 0x30FF};
constexpr Block kForms {0xFF00, 0xFFEF};

struct Table
{
    std::array<Repl, 0x100> cjk {};
    std::array<Repl, 0xF0> forms {};
    std::array<Repl, 0x100> latin {}; // U+0000..U+00FF
    Repl rsquo, rdquo; // U+2019, U+201D

    Repl *slot(char16_t c)
    {
        if (c >= kCjk.first && c <= kCjk.last)
            return &cjk[c - kCjk.first];
        if (c >= kForms.first && c <= kForms.last)
            return &forms[c - kForms.first];
        if (c < 0x100)
            return &latin[c];
        if (c == 0x2019)
            return &rsquo;
        if (c == 0x201D)
            return &rdquo;
        return nullptr;
    }
    const Repl *find(char16_t c) const { return const_cast<Table *>(this)->slot(c); }

    void set(char16_t from, std::u16string_view to)
    {
        Repl *r = slot(from);
        r->len = static_cast<quint8>(to.size());
        for (size_t i = 0; i < to.size() && i < 2; ++i)
            r->c[i] = to[i];
    }
    void keep(char16_t from) { slot(from)->len = 0; }
};

std::u16string transliterate(icu::Transliterator *t, char16_t c)
{
    icu::UnicodeString s(static_cast<UChar>(c));
    t->transliterate(s);
    return std::u16string(reinterpret_cast<const char16_t *>(s.getBuffer()), static_cast<size_t>(s.length()));
}

std::unique_ptr<icu::Transliterator> openTranslit(const char *id)
{
    UErrorCode st = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> t(
        icu::Transliterator::createInstance(icu::UnicodeString::fromUTF8(id), UTRANS_FORWARD, st));
    if (U_FAILURE(st))
        return nullptr;
    return t;
}

bool isHalfKatakana(char16_t c)
{
    return c >= 0xFF61 && c <= 0xFF9F;
}

// ICU's Fullwidth-Halfwidth for the classes the Windows conversion has in common with it; our own
// entries for the places where the two differ.
Table buildNarrow()
{
    Table t;
    auto icu = openTranslit("Fullwidth-Halfwidth");
    auto take = [&](char16_t c) {
        if (!icu)
            return;
        const std::u16string r = transliterate(icu.get(), c);
        if (r.size() == 1 && r[0] == c)
            return;
        t.set(c, r);
    };
    take(0x3000);
    for (char16_t c = 0xFF01; c <= 0xFF5E; ++c)
        take(c);
    for (char16_t c : {u'、', u'。', u'「', u'」', u'・', u'ー'})
        take(c);
    for (char16_t c = 0x30A1; c <= 0x30FA; ++c)
        take(c);
    for (char16_t c = 0xFFE0; c <= 0xFFE6; ++c)
        take(c);

    // Where Windows differs from ICU.
    t.set(0x3000, u" ");
    t.keep(0xFF3C);
    t.set(0xFF5E, u"~");
    t.set(u'゛', u"ﾞ");
    t.set(u'゜', u"ﾟ");
    t.set(0x3099, u"ﾞ");
    t.set(0x309A, u"ﾟ");
    t.set(u'ヴ', u"ｳﾞ");
    t.set(u'ヷ', u"ﾜﾞ");
    t.set(u'ヺ', u"ｦﾞ");
    t.set(u'ヸ', u"ヰﾞ");
    t.set(u'ヹ', u"ヱﾞ");
    t.set(u'ヾ', u"ヽﾞ");
    for (char16_t c : {u'ヮ', u'ヰ', u'ヱ', u'ヵ', u'ヶ', u'ヽ'})
        t.keep(c);
    t.set(0x2019, u"'");
    t.set(0x201D, u"\"");
    const std::u16string_view signs = u"¢£¬¯¦¥₩";
    for (size_t i = 0; i < signs.size(); ++i)
        t.set(static_cast<char16_t>(0xFFE0 + i), signs.substr(i, 1));
    return t;
}

Table buildWide()
{
    Table t;
    auto icu = openTranslit("Halfwidth-Fullwidth");
    for (char16_t c = 0xFF61; c <= 0xFF9F; ++c) {
        if (!icu)
            break;
        const std::u16string r = transliterate(icu.get(), c);
        if (r.size() == 1 && r[0] != c)
            t.set(c, r);
    }
    t.set(u' ', u"\u3000");
    for (char16_t c = 0x21; c <= 0x7E; ++c) {
        if (c != u'\\')
            t.set(c, std::u16string(1, static_cast<char16_t>(c + 0xFEE0)));
    }
    t.set(0x00A5, u"￥");
    // As spacing marks when they follow no letter that takes them.
    t.set(u'ﾞ', u"゛");
    t.set(u'ﾟ', u"゜");
    return t;
}

const Table &narrowTable()
{
    static const Table t = buildNarrow();
    return t;
}

const Table &wideTable()
{
    static const Table t = buildWide();
    return t;
}

void appendRepl(QString &out, const Repl *r, QChar original)
{
    if (!r || r->len == 0)
        out.append(original);
    else
        out.append(reinterpret_cast<const QChar *>(r->c), r->len);
}

} // namespace

QString narrow(QStringView text)
{
    // Every character of a page passes here, and Japanese text mixes kinds at random, so a branch
    // on the character would be mispredicted half the time: one table of the characters that may
    // change, found and applied with masks.
    struct Entry
    {
        char16_t first = 0;
        char16_t second = 0;
        char16_t keep = 0xFFFF; // all ones: the character stays
        quint16 step = 1; // units written
    };
    constexpr unsigned kCjkSize = kCjk.last - kCjk.first + 1;
    constexpr unsigned kFormsSize = kForms.last - kForms.first + 1;
    constexpr unsigned kRsquo = kCjkSize + kFormsSize;
    constexpr unsigned kRdquo = kRsquo + 1;
    constexpr unsigned kUnchanged = kRdquo + 1;
    static const std::array<Entry, kUnchanged + 1> table = [] {
        const Table &t = narrowTable();
        std::array<Entry, kUnchanged + 1> out {};
        auto put = [&](unsigned at, char16_t c) {
            if (const Repl *r = t.find(c); r && r->len > 0)
                out[at] = {r->c[0], r->len > 1 ? r->c[1] : char16_t(0), 0, r->len};
        };
        for (unsigned i = 0; i < kCjkSize; ++i)
            put(i, char16_t(kCjk.first + i));
        for (unsigned i = 0; i < kFormsSize; ++i)
            put(kCjkSize + i, char16_t(kForms.first + i));
        put(kRsquo, 0x2019);
        put(kRdquo, 0x201D);
        return out;
    }();
    // A character becomes at most two; few do.
    const qsizetype slack = text.size() / 8 + 2;
    QString out(text.size() + slack, Qt::Uninitialized);
    char16_t *o = reinterpret_cast<char16_t *>(out.data());
    const char16_t *in = text.utf16();
    qsizetype used = 0;
    for (qsizetype i = 0, n = text.size(); i < n; ++i) {
        if (used + 2 > out.size()) [[unlikely]] {
            out.resize(out.size() + slack);
            o = reinterpret_cast<char16_t *>(out.data());
        }
        const unsigned c = in[i];
        const unsigned cjk = c - kCjk.first;
        const unsigned forms = c - kForms.first;
        const unsigned inCjk = 0u - unsigned(cjk < kCjkSize);
        const unsigned inForms = 0u - unsigned(forms < kFormsSize);
        const unsigned rsquo = 0u - unsigned(c == 0x2019);
        const unsigned rdquo = 0u - unsigned(c == 0x201D);
        const unsigned at = (cjk & inCjk) | ((kCjkSize + forms) & inForms) | (kRsquo & rsquo) | (kRdquo & rdquo)
            | (kUnchanged & ~(inCjk | inForms | rsquo | rdquo));
        const Entry &e = table[at];
        o[used] = char16_t(e.first | (c & e.keep));
        o[used + 1] = e.second;
        used += e.step;
    }
    out.truncate(used);
    return out;
}

QString wide(QStringView text)
{
    const Table &t = wideTable();
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        const char16_t c = ch.unicode();
        const Repl *r = (c < 0x100 || (c >= kForms.first && c <= kForms.last)) ? t.find(c) : nullptr;
        if (isHalfKatakana(c) && c != u'ﾞ' && c != u'ﾟ' && i + 1 < text.size() && r && r->len == 1) {
            const char16_t next = text[i + 1].unicode();
            if (next == u'ﾞ' || next == u'ﾟ') {
                const QChar mark(next == u'ﾞ' ? char16_t(0x3099) : char16_t(0x309A));
                const QString composed = (QString(QChar(r->c[0])) + mark).normalized(QString::NormalizationForm_C);
                if (composed.size() == 1) {
                    out.append(composed);
                    ++i;
                    continue;
                }
            }
        }
        appendRepl(out, r, ch);
    }
    return out;
}

} // namespace width
