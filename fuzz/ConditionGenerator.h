#pragma once

#include <QString>
#include <QStringList>

#include <fuzzer/FuzzedDataProvider.h>

// Conditions and lines built from fuzzer input by the regular-expression grammar, leaning on the
// places where a reading of the syntax goes wrong: quoting, POSIX and nested classes, verbs,
// options, look-arounds, back references, properties, letters with several case partners,
// full-width letters and characters outside the BMP.
class ConditionGenerator
{
public:
    explicit ConditionGenerator(FuzzedDataProvider &in)
        : m_in(in)
    { }

    QStringList conditions()
    {
        QStringList out;
        const int n = m_in.ConsumeIntegralInRange(1, 5);
        for (int i = 0; i < n; ++i)
            out.append(condition());
        return out;
    }

    QString line()
    {
        QString s;
        const int n = m_in.ConsumeIntegralInRange(0, 12);
        for (int i = 0; i < n; ++i) {
            switch (m_in.ConsumeIntegralInRange(0, 5)) {
            case 0:
                s += pick(kLetters);
                break;
            case 1:
                s += pick(kSyntax);
                break;
            case 2:
                // Text taken from the conditions, so that their literals occur.
                if (!m_seen.isEmpty())
                    s += m_seen[m_in.ConsumeIntegralInRange<qsizetype>(0, m_seen.size() - 1)];
                break;
            case 3:
                s += QChar(m_in.ConsumeIntegral<char16_t>());
                break;
            default:
                s += QChar(char16_t(m_in.ConsumeIntegralInRange(0x20, 0x7E)));
                break;
            }
        }
        return s;
    }

private:
    static constexpr const char16_t *kLetters[] = {u"a", u"b", u"c", u"x", u"k", u"K", u"\u212A", u"s", u"S", u"\u017F",
        u"\u00DF", u"\u1E9E", u"ss", u"i", u"I", u"\u0130", u"\u0131", u"\u03A3", u"\u03C3", u"\u03C2", u"\uFF41",
        u"\uFF21", u"\u5927", u"\u962A", u"\U0001F600", u"\U00010400", u"\U00010428", u"\uFB00", u"\u01C5", u"\u01C4",
        u"\u01C6", u"1", u"_", u"\u3000", u"\uFF0D", u"\u00E9", u"e\u0301"};
    static constexpr const char16_t *kSyntax[] = {u"[", u"]", u"(", u")", u"{", u"}", u"|", u"\\", u"Q", u"E", u":",
        u"^", u"$", u".", u"*", u"+", u"?", u"-", u"@", u"#", u"=", u"!", u"<", u">", u"'", u"/", u","};

    template<size_t N> QString pick(const char16_t *const (&list)[N])
    {
        return QString::fromUtf16(list[m_in.ConsumeIntegralInRange<size_t>(0, N - 1)]);
    }

    QString condition()
    {
        QString c;
        if (m_in.ConsumeIntegralInRange(0, 5) == 0)
            c += u"@ ";
        const int terms = m_in.ConsumeIntegralInRange(1, 3);
        for (int i = 0; i < terms; ++i) {
            if (i > 0)
                c += m_in.ConsumeIntegralInRange(0, 7) == 0 ? u"  " : u" ";
            if (m_in.ConsumeIntegralInRange(0, 3) == 0)
                c += u'-';
            c += m_in.ConsumeIntegralInRange(0, 15) == 0 ? rawText() : pattern(0);
        }
        return c;
    }

    QString rawText()
    {
        QString s;
        const int n = m_in.ConsumeIntegralInRange(0, 8);
        for (int i = 0; i < n; ++i)
            s += QChar(m_in.ConsumeIntegral<char16_t>());
        s.replace(u' ', u'_');
        return s;
    }

    QString pattern(int depth)
    {
        QString p = sequence(depth);
        while (depth < 4 && m_in.ConsumeIntegralInRange(0, 5) == 5)
            p += u'|' + sequence(depth);
        return p;
    }

    QString sequence(int depth)
    {
        QString s;
        const int n = m_in.ConsumeIntegralInRange(0, 4);
        for (int i = 0; i < n; ++i) {
            s += item(depth);
            if (m_in.ConsumeIntegralInRange(0, 3) == 0)
                s += quantifier();
        }
        return s;
    }

    QString quantifier()
    {
        static constexpr const char16_t *forms[] = {u"?", u"*", u"+", u"{0}", u"{1}", u"{2}", u"{0,1}", u"{1,}",
            u"{1,3}", u"{,2}", u"{x}", u"{", u"{2,1}", u"{ 1 }"};
        QString q = pick(forms);
        switch (m_in.ConsumeIntegralInRange(0, 5)) {
        case 0:
            q += u'?';
            break;
        case 1:
            q += u'+';
            break;
        default:
            break;
        }
        return q;
    }

    QString literal()
    {
        const QString l
            = m_in.ConsumeBool() ? pick(kLetters) : QString(QChar(char16_t(m_in.ConsumeIntegralInRange(0x21, 0x7E))));
        m_seen.append(l);
        return l;
    }

    QString item(int depth)
    {
        static constexpr const char16_t *escapes[]
            = {u"\\d", u"\\D", u"\\w", u"\\W", u"\\s", u"\\S", u"\\h", u"\\v", u"\\b", u"\\B", u"\\A", u"\\z", u"\\Z",
                u"\\G", u"\\K", u"\\R", u"\\N", u"\\X", u"\\C", u"\\E", u"\\p{L}", u"\\p{Han}", u"\\P{Lu}", u"\\pL",
                u"\\x{41}", u"\\x4b", u"\\x{1F600}", u"\\101", u"\\0", u"\\1", u"\\2", u"\\g1", u"\\g{-1}", u"\\k<n>",
                u"\\e", u"\\t", u"\\cA", u"\\.", u"\\[", u"\\]", u"\\(", u"\\)", u"\\|", u"\\*", u"\\\\", u"\\-",
                u"\\:", u"\\ ", u"\\/", u"\\#", u"\\Q", u"\\N{U+41}", u"\\o{101}", u"\\u0041", u"\\Z"};
        static constexpr const char16_t *verbs[] = {u"(*ACCEPT)", u"(*FAIL)", u"(*F)", u"(*COMMIT)", u"(*PRUNE)",
            u"(*SKIP)", u"(*THEN)", u"(*MARK:m)", u"(*UTF)", u"(*UCP)", u"(*NO_START_OPT)", u"(*LIMIT_MATCH=50)",
            u"(*CR)", u"(*NOTEMPTY)", u"(?R)", u"(?1)", u"(?-1)", u"(?+1)", u"(?&n)", u"(?P>n)", u"\\g<0>", u"(?C)",
            u"(?#c)", u"(?i)", u"(?-i)", u"(?x)", u"(?s)", u"(?m)", u"(?n)", u"(?U)", u"(?J)", u"(?^)"};
        static constexpr const char16_t *opens[] = {u"(", u"(", u"(?:", u"(?:", u"(?i:", u"(?-i:", u"(?|", u"(?>",
            u"(?=", u"(?!", u"(?<=", u"(?<!", u"(?<n>", u"(?P<n>", u"(?'n'", u"(?(1)", u"(?(R)", u"(?(<n>)",
            u"(?(DEFINE)", u"(*atomic:", u"(*pla:", u"(?x:"};
        static constexpr const char16_t *members[]
            = {u"a", u"a-z", u"k", u"\u212A", u"-", u"^", u"]", u"[", u"[:alpha:]", u"[:^digit:]", u"[:a]", u"[:",
                u":]", u"[=a=]", u"[.a.]", u"[a]", u"\\d", u"\\]", u"\\[", u"\\Q]\\E", u"\\Q", u"\\E", u"\\x41",
                u"\\p{L}", u"\\b", u"\u3042-\u3093", u"\U0001F600", u"|", u"\\", u"(", u")", u"{", u" "};
        if (depth >= 5)
            return literal();
        switch (m_in.ConsumeIntegralInRange(0, 12)) {
        case 0:
        case 1:
        case 2:
            return literal();
        case 3:
            return pick(escapes);
        case 4: {
            QString q = QStringLiteral("\\Q");
            const int n = m_in.ConsumeIntegralInRange(0, 3);
            for (int i = 0; i < n; ++i)
                q += m_in.ConsumeBool() ? literal() : pick(kSyntax);
            if (m_in.ConsumeIntegralInRange(0, 3) != 0)
                q += u"\\E";
            return q;
        }
        case 5: {
            QString c = QStringLiteral("[");
            if (m_in.ConsumeBool())
                c += u'^';
            const int n = m_in.ConsumeIntegralInRange(0, 4);
            for (int i = 0; i < n; ++i)
                c += m_in.ConsumeBool() ? literal() : pick(members);
            if (m_in.ConsumeIntegralInRange(0, 7) != 0)
                c += u']';
            return c;
        }
        case 6:
            return pick(verbs);
        case 7:
        case 8:
        case 9: {
            QString g = pick(opens) + pattern(depth + 1);
            if (m_in.ConsumeIntegralInRange(0, 7) != 0)
                g += u')';
            return g;
        }
        case 10:
            return m_in.ConsumeBool() ? QStringLiteral(".")
                                      : (m_in.ConsumeBool() ? QStringLiteral("^") : QStringLiteral("$"));
        case 11:
            return pick(kSyntax);
        default:
            return QString(QChar(m_in.ConsumeIntegral<char16_t>()));
        }
    }

    FuzzedDataProvider &m_in;
    QStringList m_seen;
};
