// The resize helper: margins kept, minimum window size, never a negative size.

#include "ui/resize/cresize.h"
#include "ui/resize/twips.h"

#include <QPlainTextEdit>
#include <QtTest>

using namespace tessaly;

class TestCResize : public QObject {
    Q_OBJECT

    static CResize standard() {
        CResize r;
        r.SetMinFrmHeight(2000);
        r.SetMinFrmWidth(1000);
        return r;
    }

private slots:
    void keepsMarginsAndMinimum() {
        CResize r = standard();
        const CResize::Geometry opened{6000, 4000, QRect(300, 600, 5000, 2800)}; // margins 700 / 600
        r.GetPositions(opened);
        QCOMPARE(r.Resized(opened), opened);
        auto g = r.Resized({9000, 7000, opened.widget});
        QCOMPARE(g.widget, QRect(300, 600, 8000, 5800));
        // Smaller than the minimum: the window snaps back, the widget shrinks to
        // what the margins leave, never below zero.
        g = r.Resized({400, 900, opened.widget});
        QCOMPARE(g.windowWidth, 1000);
        QCOMPARE(g.windowHeight, 2000);
        QCOMPARE(g.widget, QRect(300, 600, 0, 800));
        g = r.Resized({1000, 1000, QRect(300, 600, 5000, 2800)});
        QCOMPARE(g.widget.height(), 800);
    }

    void fixedFlags() {
        CResize r = standard();
        const CResize::Geometry opened{6000, 4000, QRect(300, 600, 5000, 2800)};
        r.GetPositions(opened);
        r.SetFixedToRight(true); // stored only
        QVERIFY(r.FixedToRight());
        QCOMPARE(r.Resized({7000, 5000, opened.widget}).widget, QRect(300, 600, 6000, 3800));
        r.SetFixedWidth(true);
        r.SetFixedHeight(true);
        r.SetFixedToBottom(true);
        // The widget keeps its size and moves down with the bottom edge.
        QCOMPARE(r.Resized({7000, 5000, opened.widget}).widget, QRect(300, 1600, 5000, 2800));
        // Very large windows are no problem (twips beyond 16 bits).
        r.SetFixedWidth(false);
        QCOMPARE(r.Resized({60000, 40000, opened.widget}).widget.width(), 60000 - 700 - 300);
    }

    void realWindowFollows() {
        QWidget window;
        window.resize(400, 300);
        auto* body = new QPlainTextEdit(&window);
        body->setGeometry(10, 20, 300, 200);
        CResize r = standard();
        r.GetPositions(&window, body);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        window.resize(600, 500);
        r.ResizeCtrl(&window, body);
        QCOMPARE(body->geometry(), QRect(10, 20, 500, 400));

        window.resize(10, 10);
        r.ResizeCtrl(&window, body);
        QCOMPARE(window.width(), twipsToPixelsX(1000));
        QCOMPARE(window.height(), twipsToPixelsY(2000));
        QVERIFY(window.minimumWidth() == twipsToPixelsX(1000));
        QCOMPARE(body->width(), 0);
        QVERIFY(body->height() >= 0);
    }
};

QTEST_MAIN(TestCResize)
#include "test_cresize.moc"
