// frmShutdown with the countdown in virtual time: the label counts down,
// Cancel or the close box stops it, and an untouched window runs out.

#include "features/remote/countdown.h"
#include "tests/fakes/virtualeventpump.h"
#include "ui/remote/frmshutdown.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

using namespace tessaly;

class TestFrmShutdown : public QObject {
    Q_OBJECT
private slots:
    void countdown_data() {
        QTest::addColumn<QString>("action"); // at 5 seconds: cancel button, close box, nothing
        QTest::addColumn<bool>("ranOut");
        QTest::addColumn<QString>("label");
        QTest::newRow("cancel") << "cancel" << false << "25 seconds";
        QTest::newRow("close box") << "close" << false << "25 seconds";
        QTest::newRow("runs out") << "" << true << "0 seconds";
    }
    void countdown() {
        QFETCH(QString, action);
        VirtualEventPump pump;
        FrmShutdown window;
        pump.schedule(5.5, [&] {
            QVERIFY(window.isVisible());
            QVERIFY(window.isModal());
            if (action == QLatin1String("cancel"))
                QTest::mouseClick(window.cmdCancel(), Qt::LeftButton);
            else if (action == QLatin1String("close"))
                window.close();
        });
        QTEST(ShutdownCountdown::Run(pump, window, false), "ranOut");
        QTEST(window.lblSeconds()->text(), "label");
        QVERIFY(!window.isVisible());
    }
};

QTEST_MAIN(TestFrmShutdown)
#include "test_frmshutdown.moc"
