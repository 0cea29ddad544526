#pragma once

#include <QListWidget>

// A list box that, while none of its rows holds text, paints a grey hint over its empty rows and
// gives the hint to screen readers as the start of its description. The hint is never a row.
class HintedListWidget : public QListWidget
{
    Q_OBJECT
public:
    explicit HintedListWidget(QWidget *parent = nullptr);
    ~HintedListWidget() override;

    void setHint(const QString &hint);
    const QString &hint() const { return m_hint; }
    bool hintShown() const { return m_shown; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();

    QString m_hint;
    bool m_shown = false;
    // The description others set, and the one set here last: a change between the two came from
    // outside and is kept behind the hint.
    QString m_ownDescription;
    QString m_setDescription;
};
