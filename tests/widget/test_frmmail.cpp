// The mail viewer: paging through the inbox, what viewing changes, reply,
// the mail program, and printing (to a PDF file).

#include "app/mainprogram.h"
#include "features/mail/cmail.h"
#include "features/mail/mailprint.h"
#include "platform/shell.h"
#include "tests/fakes/programrig.h"
#include "ui/mail/frmmail.h"
#include "ui/main/frmmain.h"
#include "ui/paging/frmquicknote.h"
#include "tests/widget/mainwindowrig.h"

#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QtTest>

using namespace tessaly;

namespace {

struct Fixture : MainWindowRig {
    Fixture() {
        program->Settings().downloadFlag = true;
        rig.prompter.clear();
    }
    CMail& add(const QString& n, const QString& subject, const QString& body = {}) {
        auto m = std::make_unique<CMail>();
        m->SetID(QStringLiteral("<%1@x>").arg(n));
        m->SetFrom(QStringLiteral("ann%1@example.org").arg(n));
        m->SetMailTo(QStringLiteral("bob@example.net"));
        m->SetDateSent(QStringLiteral("mon, 7 dec 2026 09:1%1:00 +0000").arg(n));
        m->SetSubject(subject);
        m->SetBody(body);
        m->SetNewMessage(true);
        return program->GetInbox().Add(std::move(m), QStringLiteral("<%1@x>").arg(n));
    }
    QString label(FrmMail* mail, const char* name) const {
        return mail->findChild<QLabel*>(QString::fromLatin1(name))->text();
    }
    void click(FrmMail* mail, const char* name) {
        QTest::mouseClick(mail->findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
    }
};

int pdfPages(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QString text = QString::fromLatin1(f.readAll());
    return static_cast<int>(text.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?!s)"))));
}

} // namespace

class TestFrmMail : public QObject {
    Q_OBJECT
private slots:
    void pagesThroughTheInboxAndViewedMailIsNoLongerNew() {
        Fixture f;
        f.add(QStringLiteral("1"), QStringLiteral("first"), QStringLiteral("body one"));
        f.add(QStringLiteral("2"), QStringLiteral("second"), QStringLiteral("body two"));
        f.add(QStringLiteral("3"), QStringLiteral("third"));
        FrmMail* mail = f.w.OpenMailViewer();
        QVERIFY(mail && mail->isVisible());
        QCOMPARE(mail->windowTitle(), QStringLiteral("Mail Viewer"));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(mail->x(), (screen.width() - mail->width()) / 2);
        QCOMPARE(mail->y(), (screen.height() - mail->height()) / 3);

        auto* scroll = mail->findChild<QScrollBar*>(QStringLiteral("HScroll"));
        QCOMPARE(scroll->minimum(), 1);
        QCOMPARE(scroll->maximum(), 3);
        QCOMPARE(scroll->pageStep(), 3);
        QCOMPARE(scroll->singleStep(), 1);
        QCOMPARE(f.label(mail, "lblMessage"), QStringLiteral("Message: 1 of 3"));
        QCOMPARE(f.label(mail, "lblFrom"), QStringLiteral("ann1@example.org"));
        QCOMPARE(f.label(mail, "lblSubject"), QStringLiteral("first"));
        QCOMPARE(f.label(mail, "lblTo"), QStringLiteral("bob@example.net"));
        QCOMPARE(f.label(mail, "lblDate"), QStringLiteral("mon, 7 dec 2026 09:11:00 +0000"));
        QCOMPARE(mail->findChild<QPlainTextEdit*>(QStringLiteral("txtMail"))->toPlainText(), QStringLiteral("body one"));

        scroll->setValue(2);
        QCOMPARE(f.label(mail, "lblMessage"), QStringLiteral("Message: 2 of 3"));
        QCOMPARE(f.label(mail, "lblSubject"), QStringLiteral("second"));
        Inbox& inbox = f.program->GetInbox();
        QCOMPARE(inbox.NewMailCount(), 1);
        QVERIFY(inbox.Item(3).NewMessage());

        // A check may shrink the inbox under the window: a position it no
        // longer holds shows nothing and reports nothing.
        inbox.Remove(3);
        scroll->setValue(3);
        QCOMPARE(f.label(mail, "lblMessage"), QStringLiteral("Message: 2 of 3"));
        QVERIFY(f.rig.prompter.messages().isEmpty());

        // Closing refreshes the main window's mail display.
        f.click(mail, "cmdClose");
        QCOMPARE(f.w.statusBar()->findChild<QLabel*>(QStringLiteral("messages"))->text(),
                 QStringLiteral("0 New Message(s) : 2 Total"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!f.w.MailViewerWindow());
    }

    void anEmptyInboxShowsNothing() {
        Fixture f;
        FrmMail mail(f.program->MailViewerServices());
        QCOMPARE(f.label(&mail, "lblMessage"), QString());
        QVERIFY(f.rig.prompter.messages().isEmpty());
    }

    void replyFillsTheQuickNote() {
        Fixture f;
        f.add(QStringLiteral("1"), QStringLiteral("hello"));
        FrmMail* mail = f.w.OpenMailViewer();
        f.click(mail, "cmdReply");
        FrmQuickNote* note = f.w.QuickNoteWindow();
        QVERIFY(note && note->isVisible());
        QCOMPARE(note->txtSubject()->text(), QStringLiteral("RE: hello"));
        QCOMPARE(note->txtTo()->text(), QStringLiteral("ann1@example.org"));
        QCOMPARE(note->txtFrom()->text(), QStringLiteral("bob@example.net"));
    }

    void openEmailClient() {
        Fixture f;
        f.add(QStringLiteral("1"), QStringLiteral("hello"));
        f.program->Settings().emailClientPath = QStringLiteral("/usr/bin/mailer");
        FrmMail* mail = f.w.OpenMailViewer();
        f.click(mail, "cmdClient");
        QCOMPARE(f.rig.shell.started, QStringList{QStringLiteral("/usr/bin/mailer")});
        f.rig.shell.startError = TessalyError(Shell::kCannotStart, QStringLiteral("Cannot start: permission denied"));
        f.click(mail, "cmdClient");

        // The real shell with a path to nothing.
        DesktopShell shell;
        MailViewerContext ctx = f.program->MailViewerServices();
        ctx.shell = &shell;
        ctx.emailClientPath = [&] { return f.rig.dir.filePath(QStringLiteral("no-such-client")); };
        FrmMail real(ctx);
        f.click(&real, "cmdClient");
        QCOMPARE(f.rig.prompter.messageTexts(),
                 (QStringList{QStringLiteral("Cannot start: permission denied"), QStringLiteral("Email client not found")}));
    }

    void printsALongBodyOnSeveralPages() {
        Fixture f;
        QString body;
        for (int i = 1; i <= 200; ++i)
            body += QStringLiteral("Line %1\r\n").arg(i);
        f.add(QStringLiteral("1"), QStringLiteral("long"), body);
        FrmMail* mail = f.w.OpenMailViewer();
        const QString pdf = f.rig.dir.filePath(QStringLiteral("mail.pdf"));
        mail->SetPrintDialog([&](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            printer.setPageSize(QPageSize(QPageSize::Letter));
            printer.setPageMargins(QMarginsF(0.25, 0.25, 0.25, 0.25), QPageLayout::Inch);
            return true;
        });
        const int pages = mail->Print();
        // 10.5 printable inches, 1 inch at the top and at least 1 at the
        // bottom: about 55 lines of Courier 10 a page.
        QVERIFY2(pages >= 3 && pages <= 5, qPrintable(QString::number(pages)));
        QCOMPARE(pdfPages(pdf), pages);
        QVERIFY(f.rig.prompter.messages().isEmpty());

        // The print dialog cancelled: reported, nothing printed.
        mail->SetPrintDialog([](QPrinter&) { return false; });
        QCOMPARE(mail->Print(), 0);
        QCOMPARE(f.rig.prompter.messageTexts(), QStringList{QStringLiteral("Cancel was selected.")});
    }

    void printLayoutContinuesAtTheTopMargin() {
        QStringList body;
        for (int i = 1; i <= 200; ++i)
            body << QStringLiteral("Line %1").arg(i);
        const QStringList header = MailPrintHeader(QStringLiteral("a@x"), QStringLiteral("today"), QStringLiteral("hi"));
        QCOMPARE(header, (QStringList{"   From: a@x", "   Date: today", "Subject: hi", QString(80, QLatin1Char('-'))}));
        // 10 inches of paper, lines of 1/4 inch: 33 lines fit between the
        // top margin and the last inch.
        const auto lines = LayoutMailPrint(header, body, MailPrintPage{10.0, 0.25, 0});
        QCOMPARE(static_cast<int>(lines.size()), 204);
        QCOMPARE(lines.back().page, 7);
        for (size_t i = 0; i < lines.size(); ++i) {
            QCOMPARE(lines[i].page, static_cast<int>(i / 33) + 1);
            QCOMPARE(lines[i].top, 1.0 + 0.25 * static_cast<double>(i % 33));
        }
        // A line wider than the paper goes on over the next lines.
        const auto wrapped = LayoutMailPrint({}, {QString(25, QLatin1Char('x'))}, MailPrintPage{10.0, 0.25, 10});
        QCOMPARE(static_cast<int>(wrapped.size()), 3);
        QCOMPARE(wrapped[2].text, QStringLiteral("xxxxx"));
    }

    void bodyLines_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("crlf") << QStringLiteral("a\r\nb\r\n") << QStringList{"a", "b"};
        QTest::newRow("last line unended") << QStringLiteral("a\r\nb") << QStringList{"a", "b"};
        QTest::newRow("empty line kept") << QStringLiteral("a\r\n\r\nb\r\n") << QStringList{"a", "", "b"};
        QTest::newRow("bare lf and cr") << QStringLiteral("a\nb\rc") << QStringList{"a", "b", "c"};
        QTest::newRow("empty") << QString() << QStringList();
    }
    void bodyLines() {
        QFETCH(QString, body);
        QFETCH(QStringList, lines);
        QCOMPARE(MailBodyLines(body), lines);
    }
};

QTEST_MAIN(TestFrmMail)
#include "test_frmmail.moc"
