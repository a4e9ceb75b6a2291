#include "tests/fakes/snppscript.h"

namespace tessaly {

namespace {

class SnppScript : public LineScript {
public:
    explicit SnppScript(std::shared_ptr<SnppTerminal> t) : t_(std::move(t)) {}

    void connected(ServerEnd& end) override {
        if (!t_->silent)
            end.send(t_->greeting + "\r\n", t_->greetingDelay < 0 ? t_->replyDelay : t_->greetingDelay);
    }

    void line(ServerEnd& end, const QByteArray& raw) override {
        QByteArray text = raw;
        while (text.endsWith('\n') || text.endsWith('\r'))
            text.chop(1);
        if (inData_) {
            if (text == ".") {
                inData_ = false;
                message_ = dataText_;
                haveMessage_ = true;
                answer(end, "250 Message OK");
            } else {
                t_->dataLines << text;
                if (!firstData_)
                    dataText_ += '\n';
                dataText_ += text.startsWith("..") ? text.mid(1) : text;
                firstData_ = false;
            }
            return;
        }
        t_->commands << text;
        const QByteArray verb = text.left(4).toUpper();
        if (!t_->silentAfter.isEmpty() && verb == t_->silentAfter)
            silenced_ = true;
        if (silenced_ || t_->silent)
            return;
        if (!t_->dropAfter.isEmpty() && verb == t_->dropAfter) {
            end.close(t_->replyDelay);
            return;
        }
        const QList<QByteArray> words = text.split(' ');
        if (verb == "PAGE") {
            const QByteArray id = words.value(1);
            if (id.isEmpty() || id == t_->rejectPager || (!t_->password.isEmpty() && words.value(2) != t_->password)) {
                answer(end, "550 Error, Invalid Pager ID");
            } else {
                pager_ = id;
                answer(end, "250 Pager ID Accepted");
            }
        } else if (verb == "MESS") {
            message_ = text.mid(5);
            haveMessage_ = true;
            answer(end, "250 Message OK");
        } else if (verb == "DATA") {
            inData_ = true;
            firstData_ = true;
            dataText_.clear();
            answer(end, t_->dataReply);
        } else if (verb == "SEND") {
            if (pager_.isEmpty() || !haveMessage_) {
                answer(end, "503 Error, Pager ID or Message Incomplete");
            } else if (t_->refuseSend) {
                answer(end, QByteArray::number(t_->refuseSend) + " Error, failed (scripted)");
                if (t_->refuseSend / 100 == 4)
                    end.close(t_->replyDelay);
            } else {
                t_->sent << qMakePair(pager_, message_);
                pager_.clear();
                haveMessage_ = false;
                answer(end, "250 Message Sent Successfully");
            }
        } else if (verb == "QUIT") {
            answer(end, "221 OK, Goodbye");
            end.close(t_->replyDelay);
        } else if (verb == "HELP") {
            answer(end, "214 PAGE <Pager ID>\r\n214 MESS <Message>\r\n250 End of Help Information");
        } else {
            answer(end, "500 Command Not Implemented, Try Again");
        }
    }

private:
    void answer(ServerEnd& end, const QByteArray& reply) { end.send(reply + "\r\n", t_->replyDelay); }

    std::shared_ptr<SnppTerminal> t_;
    QByteArray pager_, message_, dataText_;
    bool haveMessage_ = false;
    bool inData_ = false;
    bool firstData_ = true;
    bool silenced_ = false;
};

} // namespace

std::unique_ptr<ServerScript> makeSnppScript(std::shared_ptr<SnppTerminal> terminal) {
    return std::make_unique<SnppScript>(std::move(terminal));
}

} // namespace tessaly
