#pragma once
// A scripted server that answers from a fuzz input: the input holds the
// server's first words and its answers, in order, separated by the two bytes
// 00 FF. The first piece goes out on connection, each further one when the
// next line from the client arrives, and the server hangs up when they run out.

#include "tests/fakes/scriptednet.h"

namespace tessaly::fuzz {

class ReplayScript : public ServerScript {
public:
    explicit ReplayScript(QList<QByteArray> replies) : replies_(std::move(replies)) {}
    void connected(ServerEnd& end) override { next(end); }
    void received(ServerEnd& end, const QByteArray& bytes) override {
        pending_ += bytes;
        while (pending_.contains('\n')) {
            pending_.remove(0, pending_.indexOf('\n') + 1);
            next(end);
        }
    }

private:
    void next(ServerEnd& end) {
        if (replies_.isEmpty()) {
            end.close();
            return;
        }
        end.send(replies_.takeFirst());
    }
    QList<QByteArray> replies_;
    QByteArray pending_;
};

inline QList<QByteArray> SplitReplies(const QByteArray& input) {
    QList<QByteArray> out;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = input.indexOf(QByteArray("\x00\xff", 2), from);
        out << input.mid(from, at < 0 ? -1 : at - from);
        if (at < 0)
            return out;
        from = at + 2;
    }
}

} // namespace tessaly::fuzz
