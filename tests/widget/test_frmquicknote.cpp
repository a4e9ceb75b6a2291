// The quick note window: its fields, the body following the window, the
// minimum size, sending from the window, and the main window's three ways in.

#include "ui/main/frmmain.h"
#include "app/headlessmainview.h"
#include "app/mainprogram.h"
#include "ui/paging/frmquicknote.h"
#include "ui/resize/twips.h"
#include "platform/settingsstore.h"
#include "platform/smtpcontrol.h"
#include "tests/fakes/fakesounddevice.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/virtualeventpump.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

using namespace tessaly;

namespace {
const QString kHost = QStringLiteral("smtp.carrier.example");

struct Rig {
    QTemporaryDir dir;
    VirtualEventPump pump;
    ScriptedPrompter prompter;
    MemorySettingsStore store;
    FakeSoundDevice sound;
    ScriptedNet net{pump};
    std::shared_ptr<SmtpSink> sink = std::make_shared<SmtpSink>();

    Rig() {
        store.write(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("DefaultFile"), QString());
        auto s = sink;
        net.listen(kHost, 25, [s] { return makeSmtpScript(s); });
    }
    PlatformServices services() { return {pump, prompter, store, sound, dir.path(), QSize(15360, 11520)}; }
    void prepare(MainProgram& program) {
        program.Startup(QString());
        LiveSettings& st = program.Settings();
        st.connectionType = ConnDirect;
        st.smtpHostName = kHost;
        st.domainName = QStringLiteral("home.example");
        program.Pagers().Item(1).SetFromAddress(QStringLiteral("owner@home.example"));
    }
};

// Distances of the widget's right and bottom edges to the window's.
QPoint margins(const QWidget& window, const QWidget* w) {
    return {window.width() - w->geometry().right() - 1, window.height() - w->geometry().bottom() - 1};
}
} // namespace

class TestFrmQuickNote : public QObject {
    Q_OBJECT
private slots:
    void bodyFollowsTheWindowAboveItsMinimum() {
        Rig r;
        HeadlessMainView view{false};
        MainProgram program(r.services(), view);
        r.prepare(program);
        FrmQuickNote w(program.QuickNoteServices(), std::make_unique<SmtpClient>(r.pump, r.net));
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QPlainTextEdit* body = w.txtBody();
        const QPoint opened = margins(w, body);
        const QRect start = body->geometry();
        QVERIFY(opened.x() > 0 && opened.y() > 0);

        w.resize(w.width() + 200, w.height() + 150);
        QTRY_COMPARE(body->width(), start.width() + 200);
        QCOMPARE(body->height(), start.height() + 150);
        QCOMPARE(body->pos(), start.topLeft());
        QCOMPARE(margins(w, body), opened);

        w.resize(w.width() - 250, w.height() - 180);
        QTRY_COMPARE(body->width(), start.width() - 50);
        QCOMPARE(body->height(), start.height() - 30);
        QCOMPARE(margins(w, body), opened);

        // Far below the minimum: the window stays at 1000 by 2000 twips and
        // the body shrinks to what the margins leave, never below zero.
        w.resize(10, 10);
        QTRY_COMPARE(w.width(), twipsToPixelsX(1000));
        QCOMPARE(w.height(), twipsToPixelsY(2000));
        QCOMPARE(w.minimumSize(), QSize(twipsToPixelsX(1000), twipsToPixelsY(2000)));
        QVERIFY(body->width() >= 0 && body->height() >= 0);
        QCOMPARE(body->height(), std::max(0, w.height() - opened.y() - start.top()));
    }

    void closesOnlyWhenSent() {
        Rig r;
        HeadlessMainView view{false};
        MainProgram program(r.services(), view);
        r.prepare(program);
        QPointer<FrmQuickNote> w = new FrmQuickNote(program.QuickNoteServices(), std::make_unique<SmtpClient>(r.pump, r.net));
        QCOMPARE(w->windowTitle(), QStringLiteral("Quick Note"));
        QCOMPARE(w->txtFrom()->text(), QStringLiteral("owner@home.example"));
        QCOMPARE(w->CISMTP1().Mailer(), QStringLiteral("Tessaly v1.1"));
        w->show();
        w->txtTo()->setText(QStringLiteral("bob@example.org"));
        w->txtSubject()->setText(QStringLiteral("Lunch"));
        w->txtBody()->setPlainText(QStringLiteral("At noon?"));
        // Refused four times: the window stays with the typed note.
        r.sink->rejectRcpt = 550;
        QTest::mouseClick(w->cmdSend(), Qt::LeftButton);
        QCOMPARE(w->LastOutcome(), std::optional(QuickNote::Outcome::Failed));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!w.isNull() && w->isVisible() && w->cmdSend()->isEnabled());
        QCOMPARE(w->txtBody()->toPlainText(), QStringLiteral("At noon?"));
        r.sink->rejectRcpt = 0;
        QTest::mouseClick(w->cmdSend(), Qt::LeftButton);
        QCOMPARE(r.sink->messages.size(), 1);
        QCOMPARE(r.sink->messages[0].mailFrom, QByteArray("<owner@home.example>"));
        QTRY_VERIFY(w.isNull()); // closed and deleted after a send
    }

    void mainWindowOpensOneQuickNote() {
        Rig r;
        FrmMain main;
        MainProgram program(r.services(), main);
        main.Bind(program);
        r.prepare(program);
        main.SetLinkFactory(std::make_unique<ScriptedNet>(r.pump));
        QAction* menu = main.Action(QStringLiteral("mnuQuickNote"));
        QAction* tray = main.Action(QStringLiteral("mnuQuickNotePopUp"));
        QAction* tool = main.Toolbar()->findChild<QAction*>(QStringLiteral("tlb_quicknote"));
        QVERIFY(menu && tray && tool);
        QVERIFY(menu->isEnabled() && tray->isEnabled() && tool->isEnabled());
        QVERIFY(!main.QuickNoteWindow());
        menu->trigger();
        FrmQuickNote* note = main.QuickNoteWindow();
        QVERIFY(note && note->isVisible());
        tray->trigger();
        tool->trigger();
        QCOMPARE(main.QuickNoteWindow(), note);
        QCOMPARE(main.findChildren<FrmQuickNote*>().size(), 1);
        note->close();
        QTRY_VERIFY(!main.QuickNoteWindow());
        tool->trigger();
        QVERIFY(main.QuickNoteWindow() && main.QuickNoteWindow()->isVisible());
    }
};

QTEST_MAIN(TestFrmQuickNote)
#include "test_frmquicknote.moc"
