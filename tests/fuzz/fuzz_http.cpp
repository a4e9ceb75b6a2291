// A web server's answers to one GetURLData (see replayscript.h for the input
// form: one answer per connection, in order). However the answers look, the
// request ends within its time-out per connection, follows at most five
// redirections, and returns no more than the server sent.

#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fakes/virtualeventpump.h"
#include "tests/fuzz/fuzzcheck.h"
#include "tests/fuzz/replayscript.h"
#include "webwire/chttp.h"

#include <memory>

using namespace tessaly;
using namespace webwire;

namespace {
// Answers each connection's request with the next answer of the input and
// hangs up; with none left it stays silent.
class OneAnswerPerConnection : public ServerScript {
public:
    explicit OneAnswerPerConnection(std::shared_ptr<QList<QByteArray>> answers) : answers_(std::move(answers)) {}
    void received(ServerEnd& end, const QByteArray& bytes) override {
        request_ += bytes;
        if (answered_ || !request_.contains("\r\n\r\n") || answers_->isEmpty())
            return;
        answered_ = true;
        end.send(answers_->takeFirst());
        end.close();
    }

private:
    std::shared_ptr<QList<QByteArray>> answers_;
    QByteArray request_;
    bool answered_ = false;
};
} // namespace

TESSALY_FUZZ_APP_ONLY()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16)
        return 0;
    auto answers = std::make_shared<QList<QByteArray>>(
        fuzz::SplitReplies(fuzz::Bytes(data, size)));

    VirtualEventPump pump(QDateTime(QDate(2026, 12, 7), QTime(9, 0)));
    ScriptedNet net{pump};
    net.setLatency(0.01);
    for (const char* host : {"www.example", "other.example"})
        net.listen(QString::fromLatin1(host), 80, [answers] { return std::make_unique<OneAnswerPerConnection>(answers); });
    ScriptedPrompter prompter;
    CHTTP http(pump, net, prompter);
    http.SetHTTPTimeout(5);
    http.SetEnableRedirection(true);
    http.SetEnableCookies(true);
    int errors = 0;
    QObject::connect(&http, &CHTTP::HTTPError, [&](const QString&) { ++errors; });

    const QDateTime started = pump.now();
    QString url = QStringLiteral("http://www.example/start");
    const QString body = http.GetURLData(url);

    const qsizetype connections = net.connections().size();
    FUZZ_CHECK(connections <= 6);
    FUZZ_CHECK(body.size() <= static_cast<qsizetype>(size));
    FUZZ_CHECK(started.secsTo(pump.now()) <= (connections + 1) * 6);
    // Nothing came back without an answer to take it from.
    if (connections == 0)
        FUZZ_CHECK(body.isEmpty() && errors > 0);
    return 0;
}
