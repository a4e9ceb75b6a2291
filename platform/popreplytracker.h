#pragma once
// The replies of a POP control as its owner sees them. Data arrives in
// pieces; packetSent() and socketClosed() mark that the next piece begins a
// new reply, and when that piece arrives the reply so far becomes the last
// reply. A command's answer is therefore complete in LastReply() once the
// first piece of the reply after it has arrived.

#include "platform/popcontrol.h"

#include <QList>
#include <QMetaObject>
#include <QString>

namespace tessaly {

class PopReplyTracker {
public:
    PopReplyTracker() = default;
    PopReplyTracker(const PopReplyTracker&) = delete;
    PopReplyTracker& operator=(const PopReplyTracker&) = delete;
    ~PopReplyTracker();

    // Follows the control's data, packet-sent and socket-closed signals
    // until this tracker ends.
    void Follow(PopControl& pop);

    // A piece of data from the server.
    void Received(const QString& piece);
    // The next piece begins a new reply.
    void EndReply() { newReply_ = true; }

    // The reply being received (complete once the next one begins).
    const QString& CurrentReply() const { return current_; }
    // The reply before the current one.
    const QString& LastReply() const { return last_; }
    // How many replies have become the last reply so far.
    int RepliesCompleted() const { return completed_; }

private:
    QString current_;
    QString last_;
    bool newReply_ = false;
    int completed_ = 0;
    QList<QMetaObject::Connection> connections_;
};

} // namespace tessaly
