// The desktop's message boxes: each belongs to the window the user is in,
// so it never raises the main window over that window, and shows its whole
// title.

#include "app/mainprogram.h"
#include "features/mail/cmail.h"
#include "tests/fakes/programrig.h"
#include "ui/mail/frmmail.h"
#include "ui/main/frmmain.h"
#include "ui/platform/qtprompter.h"
#include "tests/widget/mainwindowrig.h"

#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

using namespace tessaly;

namespace {

struct Fixture : MainWindowRig {
    QtPrompter prompter{QStringLiteral("Tessaly 1.1"), &w};

    Fixture() {
        auto m = std::make_unique<CMail>();
        m->SetID(QStringLiteral("<1@x>"));
        m->SetSubject(QStringLiteral("Hello"));
        program->GetInbox().Add(std::move(m), QStringLiteral("<1@x>"));
    }
};

struct SeenBox {
    QPointer<QWidget> owner;
    int width = 0;
    bool shown = false;
};

// Runs `open`, which opens a box; once the box is up, notes what it is,
// runs `during` and answers the box with its first button unless `during`
// took it away.
SeenBox whileBoxIsOpen(const std::function<void()>& open, const std::function<void()>& during = {}) {
    SeenBox seen;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen.shown = true;
        seen.owner = box->parentWidget();
        seen.width = box->width();
        QPointer<QMessageBox> alive = box;
        if (during)
            during();
        if (alive)
            alive->buttons().constFirst()->click();
    });
    open();
    return seen;
}

} // namespace

class TestQtPrompter : public QObject {
    Q_OBJECT
private slots:
    void boxBelongsToTheWindowInUse_data() {
        QTest::addColumn<QString>("active");
        QTest::newRow("mail viewer") << QStringLiteral("viewer");
        QTest::newRow("main window") << QStringLiteral("main");
        QTest::newRow("modal dialog over the viewer") << QStringLiteral("dialog");
        QTest::newRow("every window in the tray") << QStringLiteral("none");
    }
    void boxBelongsToTheWindowInUse() {
        QFETCH(QString, active);
        Fixture f;
        f.w.show();
        FrmMail* viewer = f.w.OpenMailViewer();
        QVERIFY(viewer);
        QVERIFY(QTest::qWaitForWindowExposed(viewer));
        QWidget* expected = &f.w;
        QDialog dialog(viewer);
        if (active == QLatin1String("viewer")) {
            viewer->activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), viewer);
            expected = viewer;
        } else if (active == QLatin1String("main")) {
            f.w.activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), &f.w);
        } else if (active == QLatin1String("dialog")) {
            dialog.open();
            QTRY_COMPARE(QApplication::activeWindow(), &dialog);
            expected = &dialog;
        } else {
            viewer->hide();
            f.w.hide();
        }
        const SeenBox seen = whileBoxIsOpen([&] { f.prompter.messageBox(QStringLiteral("The printer could not be started.")); });
        QVERIFY(seen.shown);
        QCOMPARE(seen.owner.data(), expected);
    }

    // The viewer closes (and is deleted) while its box is open, as when a
    // remote "quit" unloads the windows: the box goes with it.
    void ownerClosedWhileTheBoxIsOpen() {
        Fixture f;
        f.w.show();
        QPointer<FrmMail> viewer = f.w.OpenMailViewer();
        viewer->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), viewer.data());
        MsgAnswer answer = MsgAnswer::Yes;
        const SeenBox seen = whileBoxIsOpen(
            [&] { answer = f.prompter.messageBox(QStringLiteral("Delete Hayes?"), MsgButtons::YesNo); },
            [&] {
                viewer->close();
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            });
        QVERIFY(seen.shown);
        QVERIFY(!viewer);
        QCOMPARE(answer, MsgAnswer::Cancel);
    }

    void titleNotCutOff_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        for (const char* text : {"Mailbox is empty", "Cancel was selected.", "Delete Hayes?", "OK"})
            QTest::newRow(text) << QString::fromLatin1(text) << QString();
        QTest::newRow("title of its own") << QStringLiteral("Saved.") << QStringLiteral("Tessaly 1.1 Profile Save");
    }
    void titleNotCutOff() {
        QFETCH(QString, text);
        QFETCH(QString, title);
        QtPrompter prompter(QStringLiteral("Tessaly 1.1"));
        const SeenBox seen = whileBoxIsOpen([&] { prompter.messageBox(text, MsgButtons::OK, MsgIcon::None, title); });
        QVERIFY(seen.shown);
        // The window manager's title bar: the title, bold, beside an icon and
        // three buttons of about a title bar's height (one and a half lines).
        QFont bold = QApplication::font();
        bold.setBold(true);
        const QFontMetrics metrics(bold);
        const int needed = metrics.horizontalAdvance(title.isEmpty() ? QStringLiteral("Tessaly 1.1") : title) +
                           4 * (metrics.height() * 3 / 2);
        QVERIFY2(seen.width >= needed, qPrintable(QStringLiteral("%1 < %2").arg(seen.width).arg(needed)));
    }
};

QTEST_MAIN(TestQtPrompter)
#include "test_qtprompter.moc"
