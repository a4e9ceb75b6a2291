#pragma once
// Follows a POP control's events the way the mail check's handlers do:
// packet-sent and socket-closed mark that the next piece of data starts a
// new reply; at that point the reply so far becomes the last reply. Also
// keeps every event in order for assertions.

#include "platform/popcontrol.h"

#include <QStringList>

namespace tessaly {

struct PopReplyRecorder {
    QString buffer;
    QString lastReply;
    bool newResponse = false;
    bool loggedIn = false;
    int count = -1;
    QStringList events; // "data:<text>", "sent", "closed", "login", "error:<n>:<text>"
    QList<int> errors;

    void attach(PopControl& pop) {
        QObject::connect(&pop, &PopControl::dataReceived, &pop, [this](const QString& text) {
            events << QStringLiteral("data:") + text;
            if (newResponse) {
                lastReply = buffer;
                buffer = text;
                newResponse = false;
            } else {
                buffer += text;
            }
        });
        QObject::connect(&pop, &PopControl::packetSent, &pop, [this] {
            events << QStringLiteral("sent");
            newResponse = true;
        });
        QObject::connect(&pop, &PopControl::socketClosed, &pop, [this] {
            events << QStringLiteral("closed");
            newResponse = true;
        });
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
