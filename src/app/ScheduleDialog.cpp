#include "app/ScheduleDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

const std::array<QString, 7> kDayNames {u"月"_s, u"火"_s, u"水"_s, u"木"_s, u"金"_s, u"土"_s, u"日"_s};

QTime timeOf(int minutes)
{
    return minutes >= 24 * 60 ? QTime(23, 59) : QTime(minutes / 60, minutes % 60);
}

} // namespace

ScheduleDialog::ScheduleDialog(const QString &address, const std::optional<TargetSchedule> &current, QWidget *parent)
    : QDialog(parent)
    , m_address(address)
    , m_current(current)
    , m_own(new QCheckBox(u"この対象だけの予定で巡回する"_s, this))
    , m_minutes(new QSpinBox(this))
    , m_hours(new QCheckBox(u"時間帯を決める"_s, this))
    , m_from(new QTimeEdit(this))
    , m_to(new QTimeEdit(this))
    , m_jitter(new QSpinBox(this))
{
    setWindowTitle(u"巡回の予定"_s);
    auto *address_ = new QLabel(address, this);
    address_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    address_->setWordWrap(true);

    m_minutes->setRange(1, int(TargetSchedule::kMaxIntervalSeconds / 60));
    m_minutes->setSuffix(u" 分ごと"_s);
    m_minutes->setAccessibleName(u"間隔"_s);
    auto *days = new QHBoxLayout;
    for (int d = 0; d < 7; ++d) {
        m_days[size_t(d)] = new QCheckBox(kDayNames[size_t(d)], this);
        m_days[size_t(d)]->setAccessibleName(kDayNames[size_t(d)] + u"曜日"_s);
        days->addWidget(m_days[size_t(d)]);
    }
    for (QTimeEdit *t : {m_from, m_to})
        t->setDisplayFormat(u"HH:mm"_s);
    m_from->setAccessibleName(u"開始時刻"_s);
    m_to->setAccessibleName(u"終了時刻"_s);
    auto *hours = new QHBoxLayout;
    hours->addWidget(m_hours);
    hours->addWidget(m_from);
    hours->addWidget(new QLabel(u"〜"_s, this));
    hours->addWidget(m_to);
    hours->addStretch();
    m_jitter->setRange(0, TargetSchedule::kMaxJitterPercent);
    m_jitter->setPrefix(u"± "_s);
    m_jitter->setSuffix(u" %"_s);
    m_jitter->setAccessibleName(u"ゆらぎ"_s);

    auto *form = new QFormLayout;
    form->addRow(u"間隔："_s, m_minutes);
    form->addRow(u"曜日（すべて外すと毎日）："_s, days);
    form->addRow(QString(), hours);
    form->addRow(u"ゆらぎ："_s, m_jitter);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(address_);
    layout->addWidget(m_own);
    layout->addLayout(form);
    layout->addWidget(new QLabel(u"予定のない対象は、これまでどおり巡回間隔ごとに順に巡回します。"_s, this));
    layout->addWidget(buttons);

    TargetSchedule fresh;
    fresh.intervalSeconds = 3600;
    const TargetSchedule shown = current.value_or(fresh);
    m_own->setChecked(current.has_value());
    m_minutes->setValue(int(qMax<qint64>(1, (shown.intervalSeconds + 59) / 60)));
    for (int d = 0; d < 7; ++d)
        m_days[size_t(d)]->setChecked(shown.window.days & (1u << d));
    m_hours->setChecked(shown.window.from >= 0);
    m_from->setTime(shown.window.from >= 0 ? timeOf(shown.window.from) : QTime(9, 0));
    m_to->setTime(shown.window.from >= 0 ? timeOf(shown.window.to) : QTime(18, 0));
    m_jitter->setValue(shown.jitterPercent);
    connect(m_own, &QCheckBox::toggled, this, &ScheduleDialog::enableParts);
    connect(m_hours, &QCheckBox::toggled, this, &ScheduleDialog::enableParts);
    enableParts();
}

void ScheduleDialog::enableParts()
{
    const bool own = m_own->isChecked();
    for (QWidget *w : std::initializer_list<QWidget *> {m_minutes, m_hours, m_jitter})
        w->setEnabled(own);
    for (QCheckBox *d : m_days)
        d->setEnabled(own);
    m_from->setEnabled(own && m_hours->isChecked());
    m_to->setEnabled(own && m_hours->isChecked());
}

std::optional<TargetSchedule> ScheduleDialog::schedule() const
{
    if (!m_own->isChecked())
        return std::nullopt;
    TargetSchedule s;
    s.address = m_address;
    // A file's interval of seconds stays as it was while its minutes are left alone.
    const bool untouched = m_current && m_minutes->value() == int((m_current->intervalSeconds + 59) / 60);
    s.intervalSeconds = untouched ? m_current->intervalSeconds : qint64(m_minutes->value()) * 60;
    s.jitterPercent = m_jitter->value();
    for (int d = 0; d < 7; ++d) {
        if (m_days[size_t(d)]->isChecked())
            s.window.days |= quint8(1u << d);
    }
    if (s.window.days == 0x7F)
        s.window.days = 0;
    const int from = m_from->time().hour() * 60 + m_from->time().minute();
    const int to = m_to->time().hour() * 60 + m_to->time().minute();
    if (m_hours->isChecked() && from != to) {
        s.window.from = from;
        s.window.to = to;
    }
    return s;
}
