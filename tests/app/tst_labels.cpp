#include "../patrol/ScriptedBrowser.h"
#include "app/Form1.h"
#include "settings/dialog/Form2.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QLabel>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QtMath>

using namespace Qt::StringLiterals;

// Run once per scale (QT_SCALE_FACTOR): every heading shows its whole text, nothing lies on it.
class TestLabels : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void everyLabel_showsItsWholeText_data();
    void everyLabel_showsItsWholeText();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Form1> m_form1;
    std::unique_ptr<Form2> m_form2;
};

namespace {

// A browser area that paints, as the real one does, so that it counts as covering.
class ViewBrowser : public ScriptedBrowser
{
public:
    QWidget *widget() override
    {
        if (!m_view) {
            m_view = new QWidget;
            m_view->setAutoFillBackground(true);
        }
        return m_view;
    }

private:
    QWidget *m_view = nullptr;
};

// Where the label paints its text, in its own coordinates: Qt lays the text out with the metrics
// of the font as it is resolved at the window's scale, and QLabel clips at its box.
QRectF textRect(const QLabel *l)
{
    const QFontMetricsF metrics(l->font());
    const QSizeF size(metrics.horizontalAdvance(l->text()), metrics.height());
    const QRectF box = l->contentsRect();
    const Qt::Alignment a = QStyle::visualAlignment(l->layoutDirection(), l->alignment());
    qreal x = box.left();
    if (a & Qt::AlignRight)
        x = box.right() - size.width();
    else if (a & Qt::AlignHCenter)
        x = box.left() + (box.width() - size.width()) / 2;
    qreal y = box.top();
    if (a & Qt::AlignBottom)
        y = box.bottom() - size.height();
    else if (a & Qt::AlignVCenter)
        y = box.top() + (box.height() - size.height()) / 2;
    return QRectF(QPointF(x, y), size);
}

// Labels, and plain holders without a background, paint nothing beyond their text.
bool transparent(const QWidget *w)
{
    return qobject_cast<const QLabel *>(w)
        || (w->metaObject() == &QWidget::staticMetaObject && !w->autoFillBackground());
}

// The texts that a transparent sibling paints, in the coordinates of its parent.
QList<QRectF> textsOf(const QWidget *w)
{
    QList<QRectF> rects;
    if (auto *l = qobject_cast<const QLabel *>(w)) {
        if (!l->text().isEmpty())
            rects << textRect(l).translated(l->pos());
        return rects;
    }
    for (const QLabel *l : w->findChildren<QLabel *>()) {
        if (l->isVisibleTo(w) && !l->text().isEmpty())
            rects << textRect(l).translated(l->mapTo(w, QPoint()) + w->pos());
    }
    return rects;
}

QString describe(const QRectF &r)
{
    return u"%1,%2 %3x%4"_s.arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

} // namespace

void TestLabels::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The scale must be in force, or the runs at other scales test nothing new.
    const qreal scale = qEnvironmentVariable("QT_SCALE_FACTOR", u"1"_s).toDouble();
    m_form1 = std::make_unique<Form1>(std::make_unique<ViewBrowser>());
    m_form1->setSettingsFolder(m_dir.path());
    m_form1->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form1.get()));
    // The longest status the page check shows, and a countdown of four digits.
    m_form1->LaStatus->setText(u"http://127.0.0.1:8080/a/long/target/page?with=query 接続中... "_s);
    m_form1->LaCountDown->setText(u"3600"_s);
    m_form2 = std::make_unique<Form2>(m_dir.path());
    m_form2->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form2.get()));
    QCOMPARE(m_form1->devicePixelRatioF(), scale);
    QCOMPARE(m_form2->devicePixelRatioF(), scale);
}

void TestLabels::everyLabel_showsItsWholeText_data()
{
    QTest::addColumn<QLabel *>("label");
    int count = 0;
    for (QWidget *window : {static_cast<QWidget *>(m_form1.get()), static_cast<QWidget *>(m_form2.get())}) {
        for (QLabel *l : window->findChildren<QLabel *>()) {
            if (!l->isVisibleTo(window))
                continue;
            QTest::newRow(qPrintable(window->objectName() + u'.' + l->objectName())) << l;
            ++count;
        }
    }
    QVERIFY(count >= 18);
}

void TestLabels::everyLabel_showsItsWholeText()
{
    QFETCH(QLabel *, label);
    const QString family = QFontInfo(label->font()).family();
    QVERIFY2(family.startsWith(u"IPA"_s), qPrintable(u"drawn in "_s + family));

    QVERIFY2(!label->text().isEmpty(), "nothing to measure");
    const QRectF text = textRect(label);
    QVERIFY2(QRectF(label->contentsRect()).contains(text),
        qPrintable(u"text %1 cut by its box %2"_s.arg(describe(text), describe(label->contentsRect()))));

    QWidget *parent = label->parentWidget();
    const QRectF inParent = text.translated(label->pos());
    QVERIFY2(
        QRectF(parent->rect()).contains(inParent), qPrintable(u"text %1 outside its parent"_s.arg(describe(inParent))));
    for (QObject *o : parent->children()) {
        auto *sibling = qobject_cast<QWidget *>(o);
        if (!sibling || sibling == label || !sibling->isVisibleTo(parent) || sibling->isWindow())
            continue;
        if (transparent(sibling)) {
            for (const QRectF &other : textsOf(sibling))
                QVERIFY2(!other.intersects(inParent),
                    qPrintable(u"text %1 meets the text of %2 at %3"_s.arg(
                        describe(inParent), sibling->objectName(), describe(other))));
        } else {
            QVERIFY2(!QRectF(sibling->geometry()).intersects(inParent),
                qPrintable(u"text %1 covered by %2 at %3"_s.arg(
                    describe(inParent), sibling->objectName(), describe(sibling->geometry()))));
        }
    }
}

QTEST_MAIN(TestLabels)
#include "tst_labels.moc"
