// Novaprobe's notice windows as a user meets them: the version notice with
// Ignore, View Website and View Messages, the bulletin notice, and the
// message window; a check returns while its notice stays open.

#include "platform/settingsstore.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fakes/scriptedprompter.h"

#include <novaprobe/cwebversion.h>
#include <webwire/chttp.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

using namespace tessaly;
using novaprobe::CWebVersion;

namespace {

const QString kApp = QStringLiteral("Tessaly 1.1");

QWidget* shownWindow(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name) && w->isVisible())
            return w;
    return nullptr;
}

template <typename T>
T* child(QWidget* window, const char* name) {
    return window ? window->findChild<T*>(QString::fromLatin1(name)) : nullptr;
}

struct Rig {
    VirtualEventPump pump{QDateTime(QDate(2026, 12, 7), QTime(12, 0))};
    ScriptedNet net{pump};
    ScriptedPrompter prompter;
    MemorySettingsStore store;
    std::shared_ptr<HttpResponder> web = std::make_shared<HttpResponder>();
    QByteArray page;
    QByteArray bulletin = "<!MESSAGE>Bulletin seven.<!/MESSAGE>";
    std::unique_ptr<CWebVersion> probe = std::make_unique<CWebVersion>(store, pump, prompter);
    QStringList opened;

    Rig() {
        web->respond = [this](const QByteArray& request) {
            return "HTTP/1.0 200 OK\r\n\r\n" + (request.contains("&bulletin=") ? bulletin : page);
        };
        auto w = web;
        net.listen(QStringLiteral("updates.example"), 80, [w] { return makeHttpScript(w); });
        probe->SetHttpFactory([this] { return std::make_unique<webwire::CHTTP>(pump, net, prompter); });
        probe->SetUrlOpener([this](const QString& url) {
            opened << url;
            return false;
        });
        probe->SetCGIURL(QStringLiteral("updates.example/cgi-bin/novaprobe.cgi"));
        probe->SetProductID(QStringLiteral("10110000001"));
        probe->SetProductName(kApp);
        probe->SetAppVersion(QStringLiteral("1.5.0010"));
        probe->SetDailyCheck(true);
    }
};

} // namespace

class TestNovaprobeWindows : public QObject {
    Q_OBJECT
private slots:
    void versionNotice() {
        Rig rig;
        rig.page = "<!NEWVERSION>1.6.0002<!/NEWVERSION><!DOWNLOADURL>http://dl.example/get<!/DOWNLOADURL>"
                   "<!MESSAGE>What is new.<!/MESSAGE><!BULLETIN#>0<!/BULLETIN#>";
        QVERIFY(rig.probe->CheckVersion());
        QWidget* w = shownWindow("frmVersion");
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QStringLiteral("Tessaly 1.1 Version Check"));
        QCOMPARE(child<QLabel>(w, "lblIntro")->text(),
                 QStringLiteral("Tessaly 1.1 has determined that a newer version is available for download."));
        QCOMPARE(child<QLabel>(w, "lblYourVersion")->text(), QStringLiteral("1.5.0010"));
        QCOMPARE(child<QLabel>(w, "lblNewVersion")->text(), QStringLiteral("1.6.0002"));
        QCOMPARE(child<QPushButton>(w, "cmdMessages")->text(), QStringLiteral("View Messages"));

        // A browser that cannot be opened: the message, and the window stays.
        QTest::mouseClick(child<QPushButton>(w, "cmdViewWeb"), Qt::LeftButton);
        QCOMPARE(rig.opened, QStringList{"http://dl.example/get"});
        QCOMPARE(rig.prompter.messageTexts(),
                 QStringList{"Error opening URL http://dl.example/get. Your browser may not be set up to "
                             "automatically open."});
        QVERIFY(w->isVisible());

        QTest::mouseClick(child<QPushButton>(w, "cmdMessages"), Qt::LeftButton);
        QWidget* m = shownWindow("frmMessage");
        QVERIFY(m);
        QCOMPARE(m->windowTitle(), QStringLiteral("Messages from Valdrin"));
        auto* text = child<QPlainTextEdit>(m, "txtMessages");
        QCOMPARE(text->toPlainText(), QStringLiteral("What is new."));
        const int width = text->width();
        m->resize(m->width() + 100, m->height() + 50);
        QCOMPARE(text->width(), width + 100);

        // Ignore stores exactly that version; the next due check shows nothing.
        QTest::mouseClick(child<QPushButton>(w, "cmdIgnore"), Qt::LeftButton);
        QVERIFY(!w->isVisible());
        QCOMPARE(rig.store.read(kApp, QStringLiteral("Settings"), QStringLiteral("NovaprobeIgnore"), QString()),
                 QStringLiteral("1.6.0002"));
        rig.pump.advance(2 * 24 * 3600);
        QVERIFY(rig.probe->CheckVersion());
        QCOMPARE(rig.web->requests.size(), 2);
        QVERIFY(!shownWindow("frmVersion"));

        // The windows go with the object.
        rig.probe.reset();
        QVERIFY(!shownWindow("frmMessage"));
    }

    void bulletinNotice() {
        Rig rig;
        rig.page = "<!NEWVERSION>1.5.0010<!/NEWVERSION><!DOWNLOADURL><!/DOWNLOADURL><!MESSAGE><!/MESSAGE>"
                   "<!BULLETIN#>7<!/BULLETIN#>";
        QVERIFY(!rig.probe->CheckVersion());
        QWidget* w = shownWindow("frmVersion");
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QStringLiteral("Tessaly 1.1 Bulletin"));
        QCOMPARE(child<QLabel>(w, "lblIntro")->text(), QStringLiteral("Their is a new bulletin for Tessaly 1.1"));
        QCOMPARE(child<QPushButton>(w, "cmdMessages")->text(), QStringLiteral("View Bulletin"));
        for (const char* hidden : {"cmdIgnore", "cmdViewWeb", "label1", "Label2", "lblYourVersion", "lblNewVersion"})
            QVERIFY2(!child<QWidget>(w, hidden)->isVisible(), hidden);
        QTest::mouseClick(child<QPushButton>(w, "cmdMessages"), Qt::LeftButton);
        QCOMPARE(child<QPlainTextEdit>(shownWindow("frmMessage"), "txtMessages")->toPlainText(),
                 QStringLiteral("Bulletin seven."));
        QCOMPARE(rig.store.read(kApp, QStringLiteral("Settings"), QStringLiteral("NovaprobeBulletin"), QString()),
                 QStringLiteral("7"));
    }
};

QTEST_MAIN(TestNovaprobeWindows)
#include "test_novaprobe_windows.moc"
