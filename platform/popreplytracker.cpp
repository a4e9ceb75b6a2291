#include "platform/popreplytracker.h"

namespace tessaly {

PopReplyTracker::~PopReplyTracker() {
    for (const QMetaObject::Connection& c : connections_)
        QObject::disconnect(c);
}

void PopReplyTracker::Follow(PopControl& pop) {
    connections_ << QObject::connect(&pop, &PopControl::dataReceived, [this](const QString& text) { Received(text); });
    connections_ << QObject::connect(&pop, &PopControl::packetSent, [this] { EndReply(); });
    connections_ << QObject::connect(&pop, &PopControl::socketClosed, [this] { EndReply(); });
}

void PopReplyTracker::Received(const QString& piece) {
    if (newReply_) {
        last_ = std::move(current_);
        ++completed_;
        current_ = piece;
        newReply_ = false;
    } else {
        current_ += piece;
    }
}

} // namespace tessaly
