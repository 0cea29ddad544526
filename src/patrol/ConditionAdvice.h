#pragma once

#include "patrol/Conditions.h"

#include <QString>

#include <optional>

// What the user is told about a condition before it runs: a pattern the engine refuses, and
// full-width characters that never meet page text, which is narrowed.
namespace ConditionAdvice {

// The first pattern of the condition that the engine refuses.
std::optional<Conditions::PatternError> firstError(const QString &condition);

// Why the engine refuses the pattern, in Japanese where the fault is one users meet, else after
// "その他のエラー：" in the engine's words.
QString reason(const Conditions::PatternError &error);

// "正規表現として使えません（3文字目）：…" with the reason, or "（末尾）" where the
// pattern ends too soon. The position counts the characters of the condition as the user wrote
// it: typed is the text before narrowing, when the condition was narrowed from it.
QString errorText(const QString &condition, const Conditions::PatternError &error, const QString &typed = {});

// "ページの文字は半角に変換されます：ニュース → ﾆｭｰｽ" for the words of the condition that narrowing
// changes; empty when it changes nothing.
QString narrowingNotice(const QString &condition);

} // namespace ConditionAdvice
