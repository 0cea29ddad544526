#include "app/ConditionPreview.h"

#include "patrol/ConditionAdvice.h"
#include "patrol/PageText.h"
#include "platform/Width.h"

#include <QListWidget>

using namespace Qt::StringLiterals;

struct ConditionPreview::Count
{
    QStringList lines;
    Conditions::ConditionSet set;
    quint8 mode = Conditions::PageMode;
    bool linkOnly = false;
    QString notice;
    qsizetype next = 0;
    qsizetype hits = 0;
    QElapsedTimer searching; // runs only while a slice counts
    qint64 searchedNs = 0;

    bool done() const { return next >= lines.size(); }
    bool overLimit() const { return searchedNs >= std::chrono::nanoseconds(kCountLimit).count(); }
};

ConditionPreview::ConditionPreview(QListWidget *extractedLines, QObject *parent)
    : Ui::InputPreview(parent)
    , m_lines(extractedLines)
{
    m_slice.setSingleShot(true);
    m_slice.setInterval(0);
    connect(&m_slice, &QTimer::timeout, this, &ConditionPreview::nextSlice);
    // A page check refills the list while the prompt is open: the count follows once it rests.
    m_listChanged.setSingleShot(true);
    m_listChanged.setInterval(kPauseMs);
    connect(&m_listChanged, &QTimer::timeout, this, [this] { preview(m_text); });
    QAbstractItemModel *model = extractedLines->model();
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model, signal, &m_listChanged, qOverload<>(&QTimer::start));
    connect(model, &QAbstractItemModel::modelReset, &m_listChanged, qOverload<>(&QTimer::start));
}

ConditionPreview::~ConditionPreview() = default;

std::optional<QString> ConditionPreview::begin(const QString &text)
{
    m_count.reset();
    m_slice.stop();
    m_text = text;
    // It runs as it will be stored: narrowed.
    const QString condition = width::narrow(text);
    const QString notice = ConditionAdvice::narrowingNotice(text);
    auto withNotice = [&notice](const QString &line) { return notice.isEmpty() ? line : line + u'\n' + notice; };
    if (text.isEmpty())
        return u"空のまま OK を押すと、この行の検索単語はなくなります"_s;
    if (const std::optional<Conditions::PatternError> e = ConditionAdvice::firstError(condition))
        return withNotice(ConditionAdvice::errorText(condition, *e, text));
    const Conditions::Condition parsed = Conditions::parse(condition);
    if (parsed.terms.empty())
        return u"調べる語がないため、どの行にもヒットしません"_s;

    auto count = std::make_unique<Count>();
    count->lines.reserve(m_lines->count());
    for (int i = 0; i < m_lines->count(); ++i)
        count->lines.append(PageText::lineOf(m_lines->item(i)->text()));
    if (count->lines.isEmpty())
        return withNotice(u"抜き出されたテキストがないため、ヒットする行は数えられません"_s);
    // Its own matcher: the patrol's must not see this condition, nor lose its place in a line.
    count->set = Conditions::ConditionSet({condition});
    count->set.keepQuiet();
    count->linkOnly = parsed.linkOnly;
    count->mode = parsed.linkOnly ? Conditions::LinkMode : Conditions::PageMode;
    count->notice = notice;
    m_count = std::move(count);
    return std::nullopt;
}

bool ConditionPreview::countFor(std::chrono::milliseconds slice)
{
    Count &c = *m_count;
    c.searching.start();
    const qint64 sliceNs = std::chrono::nanoseconds(slice).count();
    while (!c.done() && !c.overLimit()) {
        c.hits += c.set.match(c.lines[c.next], c.mode) ? 1 : 0;
        ++c.next;
        // A clock read costs little beside a search, and one search may take long.
        if (c.searching.nsecsElapsed() >= sliceNs)
            break;
    }
    c.searchedNs += c.searching.nsecsElapsed();
    return c.done() || c.overLimit();
}

QString ConditionPreview::countLine() const
{
    const Count &c = *m_count;
    const qsizetype total = c.lines.size();
    QString line;
    if (!c.done() && !c.overLimit()) {
        line = u"数えています… %1 / %2 行"_s.arg(c.next).arg(total);
    } else if (!c.done()) {
        line
            = u"検索に時間がかかりすぎるため、抜き出されたテキスト %1 行のうち %2 行まで調べて数えるのをやめました：%3 行にヒット"_s
                  .arg(total)
                  .arg(c.next)
                  .arg(c.hits);
    } else {
        line = u"抜き出されたテキスト %1 行のうち %2 行にヒットします"_s.arg(total).arg(c.hits);
        if (c.linkOnly)
            line = u"リンク専用の条件です（メールは送りません）。リンクの文字として調べると、"_s + line;
    }
    if (c.set.errorCount() > 0)
        line += u"（%1 行は検索に時間がかかりすぎて判定できませんでした）"_s.arg(c.set.errorCount());
    return c.notice.isEmpty() ? line : line + u'\n' + c.notice;
}

void ConditionPreview::nextSlice()
{
    if (!m_count)
        return;
    const bool done = countFor(std::chrono::milliseconds(20));
    Q_EMIT lineChanged(countLine());
    if (!done)
        m_slice.start();
}

void ConditionPreview::preview(const QString &text)
{
    m_listChanged.stop();
    if (const std::optional<QString> line = begin(text)) {
        Q_EMIT lineChanged(*line);
        return;
    }
    // Most counts end within the first slice, and then no "counting" line flashes by.
    nextSlice();
}

QString ConditionPreview::settledLine(const QString &text)
{
    if (const std::optional<QString> line = begin(text))
        return *line;
    while (!countFor(kCountLimit)) { }
    const QString line = countLine();
    m_count.reset();
    return line;
}
