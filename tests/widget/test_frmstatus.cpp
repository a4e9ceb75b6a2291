// The communication status window stays on screen: its frame (title bar
// included) inside the part of the screen windows may use, at scale 1 and 2.

#include "platform/settingsstore.h"
#include "state/commstatus.h"
#include "ui/main/frmstatus.h"
#include "ui/resize/twips.h"

#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

using namespace tessaly;

class TestFrmStatus : public QObject {
    Q_OBJECT
private slots:
    void fitFrame_data() {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QMargins>("frame");
        QTest::addColumn<QPoint>("wanted");
        QTest::addColumn<QPoint>("expected");
        const QMargins deco(4, 24, 4, 4); // frame 272 x 117 around 264 x 89
        QTest::newRow("inside: kept") << QRect(0, 0, 1280, 1024) << deco << QPoint(500, 400) << QPoint(500, 400);
        QTest::newRow("corner without the frame") // the window's own size put at the screen's corner
            << QRect(0, 0, 1280, 1024) << deco << QPoint(1016, 935) << QPoint(1008, 907);
        QTest::newRow("panel at the bottom") << QRect(0, 0, 1280, 996) << deco << QPoint(1008, 907) << QPoint(1008, 879);
        QTest::newRow("panel at the top") << QRect(0, 32, 1280, 992) << deco << QPoint(100, 0) << QPoint(100, 32);
        QTest::newRow("panel on the left") << QRect(48, 0, 1232, 1024) << deco << QPoint(-30, 500) << QPoint(48, 500);
        QTest::newRow("scale 2") << QRect(0, 0, 640, 512) << QMargins(2, 12, 2, 2) << QPoint(1016, 955)
                                 << QPoint(372, 409);
        QTest::newRow("second screen") << QRect(1280, 0, 1024, 768) << deco << QPoint(2300, 700) << QPoint(2032, 651);
        QTest::newRow("area smaller than the frame") << QRect(0, 0, 200, 100) << deco << QPoint(50, 50) << QPoint(0, 0);
        QTest::newRow("no frame") << QRect(0, 0, 800, 600) << QMargins() << QPoint(900, 900) << QPoint(536, 511);
    }
    void fitFrame() {
        QFETCH(QRect, available);
        QFETCH(QMargins, frame);
        QFETCH(QPoint, wanted);
        QFETCH(QPoint, expected);
        QCOMPARE(StatusWindow::FitFrame(available, frame, QSize(264, 89), wanted), expected);
    }

    // The real window on the offscreen screen, which frames windows with a
    // thin border. Also run at scale 2 by scaleTwo().
    void realWindowInsideAvailableGeometry_data() {
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("top");
        QTest::addColumn<bool>("corner");
        QTest::newRow("first run: the corner") << QString() << QString() << true;
        const QSize screen = screenSizeTwips();
        const QSize inside(twipsToPixelsX(StatusWindow::kWidthTwips), twipsToPixelsY(StatusWindow::kHeightTwips));
        // Kept by a run that placed the window without its frame.
        QTest::newRow("stored at the corner without the frame")
            << QString::number(screen.width() - StatusWindow::kWidthTwips)
            << QString::number(screen.height() - StatusWindow::kHeightTwips) << true;
        QTest::newRow("stored partly past the right edge")
            << QString::number(screen.width() - StatusWindow::kWidthTwips / 2) << QStringLiteral("300") << false;
        QTest::newRow("stored partly past the bottom")
            << QStringLiteral("300") << QString::number(screen.height() - pixelsToTwipsY(inside.height() / 3))
            << false;
        QTest::newRow("stored partly off the top left") << QStringLiteral("-600") << QStringLiteral("-300") << false;
    }
    void realWindowInsideAvailableGeometry() {
        QFETCH(QString, left);
        QFETCH(QString, top);
        QFETCH(bool, corner);
        MemorySettingsStore store;
        const QString app = QStringLiteral("Tessaly 1.1"), section = QStringLiteral("Settings");
        if (!left.isEmpty())
            store.write(app, section, QStringLiteral("StatusLeft"), left);
        if (!top.isEmpty())
            store.write(app, section, QStringLiteral("StatusTop"), top);
        bool cancel = false;
        StatusWindow logic(store, screenSizeTwips(), cancel);
        FrmStatus window(logic);
        logic.Attach(&window);
        logic.Show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (qEnvironmentVariable("QT_SCALE_FACTOR") == QLatin1String("2"))
            QCOMPARE(window.devicePixelRatio(), 2.0);
        const QRect available = window.screen()->availableGeometry();
        const QRect frame = window.frameGeometry();
        QVERIFY2(frame.height() > window.height(), "the offscreen screen frames windows");
        QVERIFY2(available.contains(frame), qPrintable(QStringLiteral("frame %1,%2 %3x%4 outside %5x%6")
                                                           .arg(frame.x())
                                                           .arg(frame.y())
                                                           .arg(frame.width())
                                                           .arg(frame.height())
                                                           .arg(available.width())
                                                           .arg(available.height())));
        // The Cancel button is in reach.
        auto* cancelButton = window.findChild<QPushButton*>(QStringLiteral("cmdCancel"));
        const QRect button(cancelButton->mapToGlobal(QPoint(0, 0)), cancelButton->size());
        QVERIFY(available.contains(button));
        if (corner) {
            // Twips round to whole pixels: within a pixel of the corner.
            QVERIFY(qAbs(frame.right() - available.right()) <= 1);
            QVERIFY(qAbs(frame.bottom() - available.bottom()) <= 1);
        }
        logic.Attach(nullptr);
    }

    void scaleTwo() {
        if (qEnvironmentVariable("QT_SCALE_FACTOR") == QLatin1String("2"))
            QSKIP("already the run at scale 2");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("realWindowInsideAvailableGeometry")});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray output = child.readAll();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
    }
};

QTEST_MAIN(TestFrmStatus)
#include "test_frmstatus.moc"
