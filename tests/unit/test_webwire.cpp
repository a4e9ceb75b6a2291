// Webwire in virtual time: CHTTP against scripted HTTP servers (status
// lines, redirect chains, time-out, cancel, bad peers, TLS, proxy), the
// cookie store, the text utilities and the transport and traffic windows.

#include "HTTP/frmhttp.h"
#include "HTTP/frmterminal.h"
#include "ground/sockerr.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fakes/scriptedprompter.h"

#include <webwire/chttp.h>

#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;
using webwire::CHTTP;
using webwire::Cookies;

namespace {

// "/r/N" answers 302 to "/r/N-1" until "/r/0", which answers 200 "landed".
QByteArray siteAnswer(const QByteArray& request) {
    QByteArray path = request.split(' ').value(1);
    if (path.startsWith("http://")) // through a proxy
        path = path.mid(path.indexOf('/', 7));
    auto answer = [](const QByteArray& status, const QByteArray& extra, const QByteArray& body) {
        return "HTTP/1.0 " + status + "\r\n" + extra + "Content-Length: " + QByteArray::number(body.size()) +
               "\r\n\r\n" + body;
    };
    if (path.startsWith("/r/")) {
        const int n = path.mid(3).toInt();
        if (n == 0)
            return answer("200 OK", "", "landed");
        return answer("302 Found", "Location: /r/" + QByteArray::number(n - 1) + "\r\n", "moved " + QByteArray::number(n));
    }
    if (path == "/lower")
        return answer("302 Found", "location: /r/0\r\n", "moved");
    if (path == "/away")
        return answer("302 Found", "Location: http://other.example/r/0 \r\n", "moved");
    if (path == "/slow")
        return {};
    if (path == "/inject") // a redirect target with line breaks in it
        return answer("302 Found", "Location: /r/0\nX-Injected: yes\r\n", "moved");
    if (path == "/injectcr")
        return answer("302 Found", "Location: /r/0\rX-Injected: yes\r\n", "moved");
    return answer("404 Not Found", "", "<p>gone</p>");
}

struct Rig {
    VirtualEventPump pump;
    ScriptedNet net{pump};
    ScriptedPrompter prompter;
    std::shared_ptr<HttpResponder> web = std::make_shared<HttpResponder>();
    std::unique_ptr<CHTTP> http;
    QStringList errors;

    Rig() {
        web->respond = siteAnswer;
        auto w = web;
        for (const char* host : {"www.example", "other.example"})
            net.listen(QString::fromLatin1(host), 80, [w] { return makeHttpScript(w); });
        net.listen(QStringLiteral("www.example"), 8080, [w] { return makeHttpScript(w); });
        net.listen(QStringLiteral("secure.example"), 443, [w] { return makeHttpScript(w); });
        net.listen(QStringLiteral("bad.example"), 443, [w] { return makeHttpScript(w); });
        net.setUntrusted(QStringLiteral("bad.example"));
        http = std::make_unique<CHTTP>(pump, net, prompter);
        QObject::connect(http.get(), &CHTTP::HTTPError, [this](const QString& m) { errors << m; });
    }
    QString fetch(QString& url) { return http->GetURLData(url); }
};

// A proxy that opens a CONNECT tunnel and then answers one request inside it.
class TunnelProxy : public ServerScript {
public:
    explicit TunnelProxy(QList<QByteArray>* seen) : seen_(seen) {}
    void received(ServerEnd& end, const QByteArray& bytes) override {
        pending_ += bytes;
        const qsizetype at = pending_.indexOf("\r\n\r\n");
        if (at < 0)
            return;
        const QByteArray head = pending_.left(at);
        pending_.remove(0, at + 4);
        *seen_ << head;
        if (head.startsWith("CONNECT ")) {
            end.send("HTTP/1.0 200 Connection established\r\n\r\n");
        } else {
            end.send("HTTP/1.0 200 OK\r\n\r\ntunnelled");
            end.close();
        }
    }

private:
    QList<QByteArray>* seen_;
    QByteArray pending_;
};

// A control whose events the test raises by hand.
class FakeControl : public HttpControl {
public:
    int Connect() override { return 1; }
    void Abort() override { ++aborts; }
    int RequestHeader() override { return 0; }
    int RequestDocument() override { return 0; }
    int aborts = 0;
};

} // namespace

class TestWebwire : public QObject {
    Q_OBJECT
private slots:
    // One request, one answer: status lines and peers that misbehave.
    void answers_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("error"); // expected start of the one HTTPError, or empty
        const QString page = QStringLiteral("www.example/page.html");
        QTest::newRow("200 OK") << page << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nhi") << "hi" << "";
        QTest::newRow("code without reason") << page << QByteArray("HTTP/1.1 200\r\n\r\nhi") << "hi" << "";
        QTest::newRow("404 keeps its page") << page << QByteArray("HTTP/1.0 404 Not Found\r\n\r\n<p>gone</p>")
                                            << "<p>gone</p>" << "HTTP Error 404 for www.example/page.html";
        QTest::newRow("status line without blank") << page << QByteArray("HTTP/1.0\r\n\r\nhi") << ""
                                                   << "Invalid HTTP answer from www.example/page.html";
        QTest::newRow("header without CR") << page << QByteArray("HTTP/1.0 200 OK\nX: y\n\nhi") << ""
                                           << "HTTP Winsock Error 53, WSAECONNABORTED";
        QTest::newRow("body cut mid-way") << page << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nshort")
                                          << "" << "HTTP Winsock Error 53, WSAECONNABORTED";
        QTest::newRow("10 MB header") << page << QByteArray("HTTP/1.0 200 OK\r\nX: ") + QByteArray(10 << 20, 'a') << ""
                                      << "HTTP Winsock Error 40, WSAEMSGSIZE";
        QTest::newRow("closed without a word") << page << QByteArray() << "" << "HTTP Winsock Error 54, WSAECONNRESET";
        QTest::newRow("refused port") << "www.example:81/x" << QByteArray() << ""
                                      << "HTTP Winsock Error 61, WSAECONNREFUSED";
        QTest::newRow("unknown host") << "nowhere.invalid/x" << QByteArray() << "" << "HTTP Winsock Error 1001,";
        QTest::newRow("no host") << "" << QByteArray() << "" << "Failed to connect to /";
    }
    void answers() {
        QFETCH(QString, url);
        QFETCH(QByteArray, answer);
        Rig rig;
        // The server answers the request, then closes (an empty answer: closes at once).
        rig.net.listen(QStringLiteral("www.example"), 80, [answer] {
            struct Script : ServerScript {
                QByteArray a;
                void received(ServerEnd& end, const QByteArray&) override {
                    if (!a.isEmpty())
                        end.send(a);
                    end.close();
                }
            };
            auto s = std::make_unique<Script>();
            s->a = answer;
            return s;
        });
        const QString body = rig.fetch(url);
        QTEST(body, "body");
        QFETCH(QString, error);
        QCOMPARE(rig.errors.size(), error.isEmpty() ? 0 : 1);
        if (!error.isEmpty())
            QVERIFY2(rig.errors.first().startsWith(error), qPrintable(rig.errors.first()));
        QVERIFY(rig.pump.elapsedSeconds() < 5);
    }

    void redirects_data() {
        QTest::addColumn<bool>("follow");
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("finalUrl");
        QTest::newRow("not followed") << false << "www.example/r/1" << 1 << "moved 1" << "http://www.example/r/0";
        QTest::newRow("chain of 1") << true << "www.example/r/1" << 2 << "landed" << "http://www.example/r/0";
        QTest::newRow("chain of 6 stops at 5") << true << "www.example/r/6" << 5 << "moved 2"
                                               << "http://www.example/r/1";
        QTest::newRow("lower-case label") << false << "www.example/lower" << 1 << "moved" << "";
        QTest::newRow("credentials kept") << true << "http://u:p@www.example/r/1" << 2 << "landed"
                                          << "http://u:p@www.example/r/0";
        QTest::newRow("another host") << true << "www.example/away" << 2 << "landed" << "http://other.example/r/0";
        QTest::newRow("port kept") << true << "http://www.example:8080/r/2" << 3 << "landed"
                                   << "http://www.example:8080/r/0";
    }
    void redirects() {
        QFETCH(bool, follow);
        QFETCH(QString, url);
        Rig rig;
        rig.http->SetEnableRedirection(follow);
        const QString body = rig.fetch(url);
        QTEST(body, "body");
        QTEST(url, "finalUrl");
        QTEST(int(rig.web->requests.size()), "requests");
        QVERIFY2(rig.errors.isEmpty(), qPrintable(rig.errors.join(QLatin1Char('|'))));
        if (QByteArray(QTest::currentDataTag()) == "credentials kept")
            QVERIFY(rig.web->requests.last().contains("Authorization: Basic dTpw\r\n"));
        // A response header is never sent back as request lines.
        QVERIFY(!rig.web->requests.last().contains("Location"));
    }

    // Nothing taken from a URL, a Location value or the caller's extra lines
    // can end a request line or add a header of its own.
    void requestsCarryNoInjectedLines_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("extraLines");
        QTest::newRow("LF in Location") << "www.example/inject" << "";
        QTest::newRow("CR in Location") << "www.example/injectcr" << "";
        QTest::newRow("controls in the URL") << QString::fromLatin1("www.example/r/0\r\nX-Injected: yes") << "";
        QTest::newRow("CR in an extra line") << "www.example/r/0" << QString::fromLatin1("Accept: */*\rX-Other: 1");
    }
    void requestsCarryNoInjectedLines() {
        QFETCH(QString, url);
        QFETCH(QString, extraLines);
        Rig rig;
        rig.http->SetEnableRedirection(true);
        if (!extraLines.isEmpty())
            rig.http->SetHTTPHeader(extraLines);
        rig.fetch(url);
        QVERIFY(!rig.web->requests.isEmpty());
        for (const QByteArray& request : rig.web->requests) {
            QByteArray head = request.left(request.indexOf("\r\n\r\n"));
            const QList<QByteArray> lines = head.split('\n');
            for (const QByteArray& line : lines) {
                QVERIFY2(line.endsWith('\r') || &line == &lines.last(), request.constData());
                const QByteArray bare = line.endsWith('\r') ? line.chopped(1) : line;
                QVERIFY2(!bare.contains('\r'), request.constData());
                QVERIFY2(!bare.startsWith("X-Injected"), request.constData());
            }
            QVERIFY2(lines.first().startsWith("GET /") && lines.first().count(' ') == 2, request.constData());
        }
    }

    void timeOutAndCancel() {
        Rig rig;
        QString url = QStringLiteral("www.example/slow");
        QCOMPARE(rig.fetch(url), QString());
        QCOMPARE(rig.errors, QStringList{"HTTP timeout while connecting to www.example/slow"});
        QVERIFY(rig.pump.elapsedSeconds() >= 40 && rig.pump.elapsedSeconds() < 41);

        rig.errors.clear();
        rig.http->SetHTTPTimeout(3);
        const double start = rig.pump.elapsedSeconds();
        QCOMPARE(rig.http->GetHeader(url), QString());
        QCOMPARE(rig.errors, QStringList{"HTTP timeout while connecting to www.example/slow"});
        QVERIFY(rig.pump.elapsedSeconds() - start < 3.5);

        // The host's Cancel button runs during the wait; the next request clears the flag.
        rig.errors.clear();
        rig.http->SetHTTPTimeout(40);
        // A second request started from an event during the wait is refused.
        QString nested = QStringLiteral("www.example/r/0");
        QString nestedBody = QStringLiteral("unset");
        rig.pump.schedule(1, [&] { nestedBody = rig.fetch(nested); });
        rig.pump.schedule(5, [&] { rig.http->SetCancelFlag(true); });
        QCOMPARE(rig.fetch(url), QString());
        QCOMPARE(nestedBody, QString());
        QCOMPARE(rig.errors, (QStringList{"HTTP request already in progress for www.example/slow",
                                          "User-cancelled HTTP connection"}));
        QVERIFY(rig.http->CancelFlag());
        url = QStringLiteral("www.example/r/0");
        QCOMPARE(rig.fetch(url), QStringLiteral("landed"));
        QVERIFY(!rig.http->CancelFlag());
    }

    void headerRequests() {
        Rig rig;
        rig.web->respond = [](const QByteArray& request) -> QByteArray {
            if (request.startsWith("HEAD /gmt "))
                return "HTTP/1.0 200 OK\r\nlast-modified: Mon, 06 Dec 1999 10:00:00 GMT\r\n\r\n";
            if (request.startsWith("HEAD /local "))
                return "HTTP/1.0 200 OK\r\nLast-Modified: Mon, 06 Dec 1999 10:00:00 PST\r\n\r\n";
            return "HTTP/1.0 200 OK\r\nServer: x\r\n\r\n";
        };
        QString url = QStringLiteral("www.example/gmt");
        QCOMPARE(rig.http->GetLastModifiedDate(url), QStringLiteral(" 06 Dec 1999 10:00:00 "));
        QCOMPARE(rig.http->GetLastModifiedDate(), QStringLiteral(" 06 Dec 1999 10:00:00 "));
        url = QStringLiteral("www.example/local");
        QCOMPARE(rig.http->GetLastModifiedDate(url), QString());
        url = QStringLiteral("www.example/none");
        QCOMPARE(rig.http->GetHeader(url), QStringLiteral("HTTP/1.0 200 OK\r\nServer: x\r\n"));
        QCOMPARE(rig.http->GetLastModifiedDate(), QString());
        QCOMPARE(rig.web->requests.size(), 5);
        QVERIFY(rig.web->requests.at(1).startsWith("HEAD /gmt HTTP/1.0\r\n"));
        QVERIFY(rig.errors.isEmpty());
    }

    void propertiesAndProxy() {
        Rig rig;
        CHTTP& h = *rig.http;
        h.SetURL(QStringLiteral("http://ann:pw@www.example:8080/dir/page.html?q=1"));
        QCOMPARE(h.Username(), QStringLiteral("ann"));
        QCOMPARE(h.Password(), QStringLiteral("pw"));
        QCOMPARE(h.HostName(), QStringLiteral("www.example"));
        QCOMPARE(h.RemotePath(), QStringLiteral("/dir/page.html?q=1"));
        h.SetHTTPPort(3128);
        h.SetProxyServerName(QStringLiteral("proxy.example"));
        QCOMPARE(h.HTTPPort(), 80);
        QCOMPARE(h.ProxyServerName(), QString());
        h.SetUseProxy(true);
        QCOMPARE(h.HTTPPort(), 80); // nothing is re-sent until assigned again
        h.SetHTTPPort(3128);
        h.SetProxyServerName(QStringLiteral("proxy.example"));
        QCOMPARE(h.HTTPPort(), 3128);

        auto w = rig.web;
        rig.net.listen(QStringLiteral("proxy.example"), 3128, [w] { return makeHttpScript(w); });
        QString url = QStringLiteral("www.example/r/0");
        QCOMPARE(rig.fetch(url), QStringLiteral("landed"));
        QVERIFY(rig.web->requests.last().startsWith("GET http://www.example/r/0 HTTP/1.0\r\nHost: www.example\r\n"));

        QList<QByteArray> seen;
        rig.net.listen(QStringLiteral("proxy.example"), 3128, [&seen] { return std::make_unique<TunnelProxy>(&seen); });
        url = QStringLiteral("https://secure.example/t");
        QCOMPARE(rig.fetch(url), QStringLiteral("tunnelled"));
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen.at(0), QByteArray("CONNECT secure.example:443 HTTP/1.0\r\nHost: secure.example:443"));
        QCOMPARE(seen.at(1), QByteArray("GET /t HTTP/1.0\r\nHost: secure.example"));
        QVERIFY(rig.net.connections().last()->encrypted);
        QVERIFY(rig.errors.isEmpty());
    }

    void tls() {
        Rig rig;
        QString url = QStringLiteral("https://secure.example/r/0");
        QCOMPARE(rig.fetch(url), QStringLiteral("landed"));
        QVERIFY(rig.net.connections().last()->encrypted);
        QVERIFY(rig.errors.isEmpty());
        url = QStringLiteral("https://bad.example/r/0");
        QCOMPARE(rig.fetch(url), QString());
        QCOMPARE(rig.errors.size(), 1);
        QVERIFY2(rig.errors.first().startsWith("HTTP TLS Error: Secure connection to bad.example failed: "),
                 qPrintable(rig.errors.first()));
        QVERIFY(rig.net.connections().last()->received.isEmpty()); // no request left in the clear
    }

    void setCookieLines_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("requestPath");
        QTest::addColumn<QStringList>("stored");   // name, value, domain, path
        QTest::addColumn<QStringList>("rejected"); // the CookieRejected arguments
        const QStringList none;
        QTest::newRow("blank before path") << "Set-Cookie: id=42; path=/x" << "/a/b" << QStringList{"id", "42", "H", "/"}
                                           << none;
        QTest::newRow("other domain") << "Set-Cookie: id=42;domain=other.host;path=/" << "/a" << none
                                      << QStringList{"id", "42", "other.host", "/"};
        QTest::newRow("no semicolon") << "Set-Cookie: id=42" << "/a" << none << QStringList{"id", "42", "", ""};
        QTest::newRow("path not inside") << "Set-Cookie: id=42;path=/x" << "/a" << none
                                         << QStringList{"id", "42", "H", "/x"};
        QTest::newRow("lower-case label, path case") << "set-cookie:  s = v ;path=/A;max-age=60" << "/a/b"
                                                     << QStringList{"s", "v", "H", "/A"} << none;
        QTest::newRow("no equals sign") << "Set-Cookie: junk" << "/a" << none << QStringList{"", "", "", ""};
    }
    void setCookieLines() {
        QFETCH(QString, line);
        QFETCH(QString, requestPath);
        QFETCH(QStringList, stored);
        Cookies store;
        store.SetRequestHostName(QStringLiteral("H"));
        store.SetRequestURL(requestPath);
        QStringList rejected;
        connect(&store, &Cookies::CookieRejected, this, [&](const QString& n, const QString& v, const QString& d,
                                                            const QString& p) { rejected = QStringList{n, v, d, p}; });
        QVERIFY(store.GetCookies(QStringLiteral("HTTP/1.0 200 OK\r\n") + line + QStringLiteral("\r\n")));
        QTEST(rejected, "rejected");
        QCOMPARE(store.Count(), stored.isEmpty() ? 0 : 1);
        if (!stored.isEmpty()) {
            const webwire::CCookie& c = *store.Item(1);
            QCOMPARE((QStringList{c.CookieName(), c.CookieValue(), c.Domain(), c.Path()}), stored);
        }
    }

    void cookieStore() {
        Cookies store;
        store.SetRequestHostName(QStringLiteral("H"));
        store.SetRequestURL(QStringLiteral("/"));
        QCOMPARE(store.SendCookies(), QString());
        QVERIFY(!store.GetCookies(QStringLiteral("HTTP/1.0 200 OK\r\n")));
        store.GetCookies(QStringLiteral("Set-Cookie: a=1;path=/\r\nSet-Cookie: b=2;path=/\r\nSet-Cookie: a=3;path=/\r\n"));
        QCOMPARE(store.Count(), 2);
        QCOMPARE(store.SendCookies(), QStringLiteral("Cookie: a=3; b=2\r\n"));
        store.SetRequestHostName(QStringLiteral("h")); // domains compare with case
        QCOMPARE(store.SendCookies(), QString());

        store.Clear();
        for (int i = 1; i <= 301; ++i)
            QVERIFY(store.Add(QString::number(i), {}, {}, QStringLiteral("H"), {}, QStringLiteral("/"), {}, {}, {}));
        QCOMPARE(store.Count(), 300);
        QCOMPARE(store.Item(1)->CookieName(), QStringLiteral("2"));
        QVERIFY(store.Add(QStringLiteral("k"), {}, {}, {}, {}, {}, {}, {}, {}, QStringLiteral("Key")));
        QCOMPARE(store.Add(QStringLiteral("k2"), {}, {}, {}, {}, {}, {}, {}, {}, QStringLiteral("KEY")), nullptr);
        QCOMPARE(store.Item(QStringLiteral("key"))->CookieName(), QStringLiteral("k"));
        QCOMPARE(store.Item(301), nullptr);
        QVERIFY(!store.Remove(0));
    }

    void cookiesTravel() {
        Rig rig;
        rig.web->respond = [](const QByteArray&) {
            return QByteArray("HTTP/1.0 200 OK\r\nSet-Cookie: id=42;path=/\r\n\r\nok");
        };
        rig.http->SetEnableCookies(true);
        QString url = QStringLiteral("www.example/set");
        QCOMPARE(rig.fetch(url), QStringLiteral("ok"));
        QVERIFY(!rig.web->requests.last().contains("Cookie:"));
        QCOMPARE(rig.fetch(url), QStringLiteral("ok"));
        QVERIFY(rig.web->requests.last().contains("\r\nCookie: id=42\r\n"));
        url = QStringLiteral("other.example/x"); // another host gets none
        rig.fetch(url);
        QVERIFY(!rig.web->requests.last().contains("Cookie:"));
    }

    void textUtilities_data() {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("result");
        const QString page = QStringLiteral("<b>Hello</b> <i>World</i>");
        QTest::newRow("strip") << "strip" << page << "\tHello\t \tWorld";
        QTest::newRow("strip all") << "all" << page << "Hello World";
        QTest::newRow("no tags") << "strip" << "plain\r\ntext" << "plain\r\ntext";
        QTest::newRow("no tags, all") << "all" << "plain" << "plain";
        QTest::newRow("lead kept, tail lost") << "strip" << "lead\r\n<b>x\ty\nz</b>tail" << "lead\r\n\txyz";
        QTest::newRow("closing only") << "all" << "a>b" << "";
        QTest::newRow("unclosed tag") << "strip" << "ab<c" << "ab";
        const QString t = QStringLiteral("a<!--x-->b<!--y-->c");
        QTest::newRow("cut") << "cut" << t << "ab<!--y-->c";
        QTest::newRow("cut exclusive") << "cut x" << t << "a<!---->b<!--y-->c";
        QTest::newRow("cut all") << "cut all" << t << "abc";
        QTest::newRow("cut all exclusive") << "cut x all" << t << "a<!---->b<!---->c";
        QTest::newRow("no start marker") << "cut" << "abc" << "abc";
        QTest::newRow("no end marker") << "cut" << "a<!--b" << "";
        QTest::newRow("later start without end") << "cut all" << "a<!--x-->b<!--c" << "ab<!--c";
        QTest::newRow("empty start") << "empty start" << "abxcd" << "acd";
    }
    void textUtilities() {
        QFETCH(QString, op);
        QFETCH(QString, input);
        Rig rig;
        const CHTTP& h = *rig.http;
        QString out;
        if (op == QLatin1String("strip"))
            out = h.Strip_HTML(input);
        else if (op == QLatin1String("all"))
            out = h.Strip_All_HTML(input);
        else if (op == QLatin1String("empty start"))
            out = h.RemoveStringBetween(QString(), QStringLiteral("x"), input);
        else
            out = h.RemoveStringBetween(QStringLiteral("<!--"), QStringLiteral("-->"), input,
                                        op.contains(QLatin1String(" x")), op.endsWith(QLatin1String("all")));
        QTEST(out, "result");
    }

    void transportWindow() {
        webwire::TrafficWindow::Unload();
        FakeControl control;
        webwire::FrmHTTP frm(control);
        QStringList raised;
        connect(&frm, &webwire::FrmHTTP::WSError, this, [&](const QString& m) { raised << m; });
        emit control.connected();
        QVERIFY(frm.ServerConnection());
        QVERIFY(!frm.SocketClosed());
        QVERIFY(!frm.ServerConnection()); // reading SocketClosed cleared it
        control.SetEcho(true);
        emit control.dataReceived(QStringLiteral("a\bb"), 3);
        emit control.dataReceived(QStringLiteral("x\ny"), 3); // an LF in second place stays bare and is dropped
        QCOMPARE(frm.Data(), QStringLiteral("a\bbx\ny"));
        emit control.error(sockerr::NoError);
        QCOMPARE(raised, QStringList{"HTTP Winsock Error -10000, WSABASEERR: No Error"});
        QVERIFY(!frm.WinsockError());
        QCOMPARE(control.aborts, 1);
        emit control.error(sockerr::ConnectionRefused);
        QVERIFY(frm.WinsockError());
        emit control.socketClosed();
        QVERIFY(frm.SocketClosed());
        QCOMPARE(webwire::TrafficWindow::Text(),
                 QStringLiteral("HTTP Server Connected...\r\nb\r\nxy\r\n"
                                "HTTP Winsock Error -10000, WSABASEERR: No Error\r\n%1\r\nHTTP Socket Closed...\r\n")
                     .arg(raised.last()));
    }

    void lineBreakEcho_data() {
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("echoed");
        QTest::newRow("lone CR") << "a\rb" << "a\r\nb";
        QTest::newRow("leading LF") << "\nab" << "\r\nab";
        QTest::newRow("LF in second place stays bare") << "a\nb" << "a\nb";
        QTest::newRow("later LF") << "ab\nc" << "ab\r\nc";
        QTest::newRow("CR LF kept") << "ab\r\nc" << "ab\r\nc";
    }
    void lineBreakEcho() {
        FakeControl control;
        control.SetEcho(true);
        webwire::FrmHTTP frm(control);
        webwire::TrafficWindow::Unload();
        QFETCH(QString, data);
        QFETCH(QString, echoed);
        emit control.dataReceived(data, int(data.size()));
        // The traffic box then drops LFs and gives every CR its LF.
        QString shown = echoed + QStringLiteral("\r\n");
        shown.remove(QLatin1Char('\n'));
        shown.replace(QLatin1Char('\r'), QStringLiteral("\r\n"));
        QCOMPARE(webwire::TrafficWindow::Text(), shown);
    }

    void trafficWindowAndLog() {
        QTemporaryDir dir;
        {
            Rig rig;
            QVERIFY(webwire::TrafficWindow::IsLoaded());
            rig.http->ShowTerminal();
            webwire::FrmTerminal* w = webwire::TrafficWindow::Window();
            QVERIFY(w && w->isVisible());
            QCOMPARE(w->windowTitle(), QStringLiteral("HTTP Data"));
            QString url = QStringLiteral("www.example/r/0");
            rig.fetch(url);
            QVERIFY(w->Term->toPlainText().contains(QStringLiteral("HTTP Server Connected...")));
            const QString before = webwire::TrafficWindow::Text() + QString(20000, QLatin1Char('z'));
            webwire::TrafficWindow::ShowData(QString(20000, QLatin1Char('z')));
            webwire::TrafficWindow::ShowData(QStringLiteral("!"));
            QCOMPARE(webwire::TrafficWindow::Text(), before.mid(4096) + QStringLiteral("!"));

            // Enabling the log before naming it is refused with the log's message.
            rig.http->SetLogFileEnable(true);
            QCOMPARE(rig.prompter.messageTexts(), QStringList{"Invalid path or filename in LogFile Class"});
            rig.http->SetLogFilePath(dir.path());
            rig.http->SetLogFileName(QStringLiteral("web.txt"));
            rig.http->SetLogFileEnable(true);
            QVERIFY(QFile::exists(dir.filePath(QStringLiteral("web.txt"))));
        }
        QVERIFY(!webwire::TrafficWindow::IsLoaded());
    }
};

QTEST_MAIN(TestWebwire)
#include "test_webwire.moc"
