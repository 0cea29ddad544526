#include "settings/PrivateProfile.h"

#include "platform/CodePage932.h"

#include <QString>

#include <iterator>

namespace {

const QByteArray kCrLf = QByteArrayLiteral("\r\n");

bool isUtf16Le(QByteArrayView b)
{
    return b.size() >= 2 && static_cast<unsigned char>(b[0]) == 0xFF && static_cast<unsigned char>(b[1]) == 0xFE;
}

void appendUtf8(QByteArray &out, char32_t c)
{
    if (c < 0x80) {
        out.append(static_cast<char>(c));
    } else if (c < 0x800) {
        out.append(static_cast<char>(0xC0 | (c >> 6)));
        out.append(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.append(static_cast<char>(0xE0 | (c >> 12)));
        out.append(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.append(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.append(static_cast<char>(0xF0 | (c >> 18)));
        out.append(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.append(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.append(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

QString unitsOfLe(QByteArrayView bytes)
{
    QString s(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < s.size(); ++i) {
        const auto lo = static_cast<unsigned char>(bytes[2 * i]);
        const auto hi = static_cast<unsigned char>(bytes[2 * i + 1]);
        s[i] = QChar(char16_t(lo | (hi << 8)));
    }
    return s;
}

} // namespace

QByteArray PrivateProfile::utf16Text(QStringView text)
{
    QByteArray out;
    out.reserve(text.size() * 3);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            appendUtf8(out, QChar::surrogateToUcs4(u, text[++i].unicode()));
        else
            appendUtf8(out, u);
    }
    return out;
}

QString PrivateProfile::fromUtf16Text(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const int length = b < 0x80 ? 1
            : b >= 0xC2 && b < 0xE0 ? 2
            : b >= 0xE0 && b < 0xF0 ? 3
            : b >= 0xF0 && b < 0xF5 ? 4
                                    : 0;
        char32_t c = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = length > 0 && i + length <= n;
        for (int k = 1; ok && k < length; ++k) {
            const auto t = static_cast<unsigned char>(bytes[i + k]);
            ok = (t & 0xC0) == 0x80;
            c = (c << 6) | (t & 0x3F);
        }
        // Overlong forms and values past the last code point are no text of ours.
        ok = ok && !(length == 3 && c < 0x800) && !(length == 4 && (c < 0x10000 || c > 0x10FFFF));
        if (!ok) {
            out.append(QChar::ReplacementCharacter);
            ++i;
            continue;
        }
        if (QChar::requiresSurrogates(c)) {
            out.append(QChar(QChar::highSurrogate(c)));
            out.append(QChar(QChar::lowSurrogate(c)));
        } else {
            out.append(QChar(char16_t(c)));
        }
        i += length;
    }
    return out;
}

bool PrivateProfile::isBlank(char c)
{
    return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x1A;
}

QByteArrayView PrivateProfile::trimmed(QByteArrayView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.sliced(b, e - b);
}

QByteArrayView PrivateProfile::unquoted(QByteArrayView v)
{
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.sliced(1, v.size() - 2);
    return v;
}

// Finds an ASCII byte without mistaking the second byte of a double-byte character for it.
qsizetype PrivateProfile::findByte(QByteArrayView s, char c, qsizetype from) const
{
    for (qsizetype i = from; i < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (!m_utf16 && cp932::isLeadByte(b) && i + 1 < s.size()) {
            ++i;
            continue;
        }
        if (s[i] == c)
            return i;
    }
    return -1;
}

QByteArray PrivateProfile::fold(QByteArrayView name) const
{
    QByteArray out(name.data(), name.size());
    for (qsizetype i = 0; i < out.size(); ++i) {
        const auto b = static_cast<unsigned char>(out[i]);
        if (!m_utf16 && cp932::isLeadByte(b)) {
            ++i;
            continue;
        }
        if (b >= 'a' && b <= 'z')
            out[i] = static_cast<char>(b - 'a' + 'A');
    }
    return out;
}

void PrivateProfile::classify(Line &line) const
{
    line.kind = Kind::Other;
    line.name.clear();
    const QByteArrayView t = trimmed(line.text);
    if (t.isEmpty() || t[0] == ';')
        return;
    if (t[0] == '[') {
        const qsizetype close = findByte(t, ']', 1);
        if (close >= 0) {
            line.kind = Kind::Section;
            line.name = fold(trimmed(t.sliced(1, close - 1)));
            return;
        }
    }
    const qsizetype eq = findByte(line.text, '=');
    if (eq < 0)
        return;
    line.kind = Kind::Key;
    line.name = fold(trimmed(QByteArrayView(line.text).first(eq)));
    line.valueStart = eq + 1;
}

PrivateProfile PrivateProfile::parse(QByteArrayView bytes)
{
    PrivateProfile p;
    QByteArray text;
    if (isUtf16Le(bytes)) {
        p.m_utf16 = true;
        const QByteArrayView body = bytes.sliced(2);
        text = utf16Text(unitsOfLe(body));
        if (body.size() % 2 != 0)
            p.m_oddByte = body.last(1).toByteArray();
    } else {
        text = bytes.toByteArray();
    }
    std::vector<Line> lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    while (start < n) {
        qsizetype i = start;
        while (i < n && text[i] != '\r' && text[i] != '\n')
            ++i;
        Line line;
        line.text = text.sliced(start, i - start);
        if (i < n) {
            const qsizetype eolLen = (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
            line.eol = text.sliced(i, eolLen);
            i += eolLen;
        }
        p.classify(line);
        lines.push_back(std::move(line));
        start = i;
    }
    p.regroup(std::move(lines));
    return p;
}

void PrivateProfile::regroup(std::vector<Line> lines)
{
    m_sections.clear();
    m_sectionIndex.clear();
    m_sections.emplace_back();
    for (Line &line : lines) {
        if (line.kind == Kind::Section) {
            if (!m_sectionIndex.contains(line.name)) // the first of duplicate sections is the one found
                m_sectionIndex.insert(line.name, m_sections.size());
            m_sections.emplace_back();
            m_sections.back().afterLastKey = 1;
        }
        Section &sec = m_sections.back();
        if (line.kind == Kind::Key) {
            if (!sec.keys.contains(line.name))
                sec.keys.insert(line.name, sec.lines.size());
            sec.afterLastKey = sec.lines.size() + 1;
        }
        sec.lines.push_back(std::move(line));
    }
}

PrivateProfile::Line *PrivateProfile::lastLine()
{
    for (auto it = m_sections.rbegin(); it != m_sections.rend(); ++it) {
        if (!it->lines.empty())
            return &it->lines.back();
    }
    return nullptr;
}

QByteArray PrivateProfile::serialize() const
{
    QByteArray out;
    qsizetype total = 0;
    for (const Section &sec : m_sections) {
        for (const Line &l : sec.lines)
            total += l.text.size() + l.eol.size();
    }
    out.reserve(total);
    for (const Section &sec : m_sections) {
        for (const Line &l : sec.lines) {
            out.append(l.text);
            out.append(l.eol);
        }
    }
    if (!m_utf16)
        return out;
    const QString s = fromUtf16Text(out);
    QByteArray wide;
    wide.reserve(2 + s.size() * 2 + m_oddByte.size());
    wide.append("\xFF\xFE", 2);
    for (QChar c : s) {
        wide.append(static_cast<char>(c.unicode() & 0xFF));
        wide.append(static_cast<char>(c.unicode() >> 8));
    }
    wide.append(m_oddByte);
    return wide;
}

const PrivateProfile::Section *PrivateProfile::findSection(QByteArrayView section) const
{
    const auto found = m_sectionIndex.constFind(fold(trimmed(section)));
    return found == m_sectionIndex.constEnd() ? nullptr : &m_sections[*found];
}

std::optional<QByteArray> PrivateProfile::value(QByteArrayView section, QByteArrayView key) const
{
    const Section *sec = findSection(section);
    if (!sec)
        return std::nullopt;
    const auto found = sec->keys.constFind(fold(trimmed(key)));
    if (found == sec->keys.constEnd())
        return std::nullopt;
    const Line &l = sec->lines[*found];
    return unquoted(trimmed(QByteArrayView(l.text).sliced(l.valueStart))).toByteArray();
}

void PrivateProfile::setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    const QByteArrayView sec = trimmed(section);
    const QByteArrayView keyName = trimmed(key);
    QByteArray keyLine = keyName.toByteArray();
    keyLine.append('=');
    keyLine.append(value);

    auto newLine = [this](QByteArray text) {
        Line l;
        l.text = std::move(text);
        l.eol = kCrLf;
        classify(l);
        return l;
    };
    // A name of odd bytes can make a written line read as something else; then the lines are
    // sorted anew, exactly as the next read of the file would.
    auto regroupAll = [this] {
        std::vector<Line> all;
        for (Section &s : m_sections)
            std::move(s.lines.begin(), s.lines.end(), std::back_inserter(all));
        regroup(std::move(all));
    };

    const QByteArray k = fold(keyName);
    const auto foundSection = m_sectionIndex.constFind(fold(sec));
    if (foundSection == m_sectionIndex.constEnd()) {
        if (Line *last = lastLine(); last && last->eol.isEmpty())
            last->eol = kCrLf;
        QByteArray header("[");
        header.append(sec);
        header.append(']');
        Section added;
        added.lines.push_back(newLine(std::move(header)));
        added.lines.push_back(newLine(std::move(keyLine)));
        const Line &head = added.lines[0];
        const Line &body = added.lines[1];
        if (head.kind != Kind::Section || head.name != fold(sec) || body.kind != Kind::Key || body.name != k) {
            m_sections.push_back(std::move(added));
            regroupAll();
            return;
        }
        added.keys.insert(k, 1);
        added.afterLastKey = 2;
        m_sectionIndex.insert(head.name, m_sections.size());
        m_sections.push_back(std::move(added));
        return;
    }

    Section &s = m_sections[*foundSection];
    const auto foundKey = s.keys.constFind(k);
    if (foundKey != s.keys.constEnd()) {
        Line &l = s.lines[*foundKey];
        l.text = std::move(keyLine);
        classify(l);
        if (l.kind != Kind::Key || l.name != k)
            regroupAll();
        return;
    }
    const size_t insertAt = s.afterLastKey;
    if (s.lines[insertAt - 1].eol.isEmpty())
        s.lines[insertAt - 1].eol = kCrLf;
    s.lines.insert(s.lines.begin() + static_cast<std::ptrdiff_t>(insertAt), newLine(std::move(keyLine)));
    const Line &inserted = s.lines[insertAt];
    if (inserted.kind != Kind::Key || inserted.name != k) {
        regroupAll();
        return;
    }
    // Only lines that are no keys follow the last key line, so no key moves.
    s.keys.insert(k, insertAt);
    s.afterLastKey = insertAt + 1;
}
