// The patrol's matcher against a plain evaluation of the condition grammar: split at U+0020,
// "@" and "-" as the grammar says, each term one case-insensitive search, a pattern the engine
// refuses never found. Any difference is a failure, except that a condition the matcher reports
// as an error may miss where the plain evaluation hits.
#include "ConditionGenerator.h"
#include "FuzzSupport.h"
#include "patrol/Conditions.h"
#include "patrol/PlainConditions.h"
#include "patrol/bregexp.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The matcher tells each condition that gives up on standard error; here that is noise.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // After a first byte 0xFF the input is UTF-8 text: conditions one a line, the page line last
    // (the form of the seeds and of the dictionary). Otherwise the generator builds both.
    FuzzedDataProvider in(data, size);
    ConditionGenerator gen(in);
    QStringList conditions;
    QStringList lines;
    if (size > 0 && data[0] == 0xFF) {
        conditions = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)).split(u'\n');
        lines.append(conditions.takeLast());
    } else {
        conditions = gen.conditions();
        const int n = in.ConsumeIntegralInRange(1, 4);
        for (int i = 0; i < n; ++i)
            lines.append(gen.line());
    }
    const Conditions::ConditionSet set(conditions);
    PlainConditions plainConditions;
    for (const QString &line : lines) {
        for (quint8 mode : {Conditions::PageMode, Conditions::LinkMode}) {
            const quint64 errors = set.errorCount();
            const bool patrol = set.match(line, mode);
            // The matcher replaces lone surrogates before it searches; the plain evaluation gets the
            // same text.
            const auto plain = plainConditions.hits(conditions, bregexp::wellFormed(line), mode);
            if (plain == PlainConditions::Answer::Unknown)
                continue;
            const bool gaveUp = set.errorCount() != errors;
            if (patrol != (plain == PlainConditions::Answer::Hit) && !(gaveUp && !patrol)) {
                QByteArray detail = "mode " + QByteArray::number(mode) + "\nline " + fuzz::shown(line);
                for (const QString &c : conditions)
                    detail += "\ncondition " + fuzz::shown(c);
                detail += patrol ? "\nthe patrol hits, the plain evaluation does not"
                                 : "\nthe plain evaluation hits, the patrol does not";
                fuzz::fail("the patrol's matcher agrees with the plain evaluation", detail);
            }
        }
    }
    return 0;
}
