#pragma once
// Follows a POP control's replies with the tracker the mail check uses, and
// keeps every event in order for assertions.

#include "platform/popcontrol.h"
#include "platform/popreplytracker.h"

#include <QStringList>

namespace tessaly {

struct PopReplyRecorder {
    PopReplyTracker replies;
    // The tracker's current and last reply after the latest piece of data.
    QString buffer;
    QString lastReply;
    bool loggedIn = false;
    int count = -1;
    QStringList events; // "data:<text>", "sent", "closed", "login", "error:<n>:<text>"
    QList<int> errors;

    void attach(PopControl& pop) {
        replies.Follow(pop);
        QObject::connect(&pop, &PopControl::dataReceived, &pop, [this](const QString& text) {
            events << QStringLiteral("data:") + text;
            buffer = replies.CurrentReply();
            lastReply = replies.LastReply();
        });
        QObject::connect(&pop, &PopControl::packetSent, &pop, [this] { events << QStringLiteral("sent"); });
        QObject::connect(&pop, &PopControl::socketClosed, &pop, [this] { events << QStringLiteral("closed"); });
        QObject::connect(&pop, &PopControl::loginComplete, &pop, [this, &pop] {
            events << QStringLiteral("login");
            count = pop.MessageCount();
            loggedIn = true;
        });
        QObject::connect(&pop, &PopControl::error, &pop, [this](int n, const QString& text) {
            events << QStringLiteral("error:%1:%2").arg(n).arg(text);
            errors << n;
        });
    }
};

} // namespace tessaly
