#include "patrol/ConditionAdvice.h"

#include "platform/Clip.h"

#include "platform/Width.h"

using namespace Qt::StringLiterals;

namespace ConditionAdvice {
namespace {

// Characters, not UTF-16 units: a character outside the BMP counts once.
qsizetype characters(QStringView text)
{
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!(text[i].isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate()))
            ++n;
    }
    return n;
}

// Where an offset of the narrowed text lies in the text as typed, in characters. Narrowing works
// character by character, so each typed character is narrowed on its own and the pieces are laid
// side by side; should they ever not add up to the narrowed text, the narrowed text is counted.
qsizetype typedPosition(const QString &typed, const QString &narrowed, qsizetype offset)
{
    QString rebuilt;
    qsizetype typedAt = 0;
    std::optional<qsizetype> found;
    for (qsizetype i = 0; i < typed.size(); ++typedAt) {
        const bool pair = typed[i].isHighSurrogate() && i + 1 < typed.size() && typed[i + 1].isLowSurrogate();
        const qsizetype units = pair ? 2 : 1;
        rebuilt += width::narrow(QStringView(typed).sliced(i, units));
        if (!found && offset < rebuilt.size())
            found = typedAt;
        i += units;
    }
    if (rebuilt != narrowed)
        return characters(QStringView(narrowed).first(std::min(offset, narrowed.size())));
    return found.value_or(typedAt);
}

} // namespace

std::optional<Conditions::PatternError> firstError(const QString &condition)
{
    for (const Conditions::Term &t : Conditions::parse(condition).terms) {
        const bregexp::Expression e(t.pattern);
        if (!e.isValid())
            return Conditions::PatternError {
                e.errorString(), t.offset + std::max<qsizetype>(0, e.errorOffset()), e.fault()};
    }
    return std::nullopt;
}

QString reason(const Conditions::PatternError &error)
{
    using bregexp::Fault;
    switch (error.fault) {
    case Fault::MissingParenthesis:
        return u"「(」を閉じる「)」がありません"_s;
    case Fault::MissingBracket:
        return u"「[」を閉じる「]」がありません"_s;
    case Fault::UnmatchedParenthesis:
        return u"「)」に対応する「(」がありません"_s;
    case Fault::NothingToRepeat:
        return u"「*」「+」「?」「{」の前に、繰り返す文字がありません"_s;
    case Fault::TrailingBackslash:
        return u"「\\」の後に文字がありません"_s;
    case Fault::BadEscape:
        return u"「\\」の後に使えない文字があります"_s;
    case Fault::BadRange:
        return u"「[ ]」の中の範囲（a-z など）が正しくありません"_s;
    case Fault::LookbehindLength:
        return u"後読み「(?<= )」「(?<! )」の中は決まった長さでなければなりません"_s;
    case Fault::BadCount:
        return u"「{n,m}」の回数が正しくありません（n は m 以下、どちらも 65535 まで）"_s;
    case Fault::UnknownGroup:
        return u"「(?」の後に使えない文字があります（使えるのは「(?:」「(?=」「(?!」「(?<=」「(?<!」など）"_s;
    case Fault::TooLarge:
        return u"正規表現が大きすぎます"_s;
    case Fault::None:
    case Fault::Other:
        break;
    }
    return u"その他のエラー："_s + error.reason;
}

QString errorText(const QString &condition, const Conditions::PatternError &error, const QString &typed)
{
    // The engine names the end of the pattern for what is left open there: "[", "(", "\\".
    if (error.offset >= condition.size())
        return u"正規表現として使えません（末尾）：%1"_s.arg(reason(error));
    const qsizetype position = typed.isEmpty() || typed == condition
        ? characters(QStringView(condition).first(error.offset))
        : typedPosition(typed, condition, error.offset);
    return u"正規表現として使えません（%1文字目）：%2"_s.arg(position + 1).arg(reason(error));
}

QString narrowingNotice(const QString &condition)
{
    QStringList changed;
    for (const QString &word : condition.split(u' ', Qt::SkipEmptyParts)) {
        const QString narrowed = width::narrow(word);
        if (narrowed != word)
            changed.append(clipped(word, 40) + u" → "_s + clipped(narrowed, 40));
    }
    if (changed.isEmpty())
        return {};
    if (changed.size() > 3)
        changed = changed.first(3) << u"…"_s;
    return u"ページの文字は半角に変換されます："_s + changed.join(u"、"_s);
}

} // namespace ConditionAdvice
