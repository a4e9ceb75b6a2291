#pragma once
// A scripted SNPP level 2 server (RFC 1861) on the virtual clock, for the
// SNPP client's tests: it keeps every command line and the messages it
// accepted, and can refuse, stall or drop at a chosen command.

#include "tests/fakes/scriptednet.h"

namespace tessaly {

struct SnppTerminal {
    QByteArray greeting = "220 Scripted SNPP gateway ready";
    double replyDelay = 0.1;
    double greetingDelay = -1;    // seconds to the greeting (replyDelay when negative)
    bool silent = false;          // accepts the connection, never answers
    QByteArray rejectPager;       // this pager ID gets "550 Error, Invalid Pager ID"
    QByteArray password;          // when set, PAGE needs it as its second word (else 550)
    int refuseSend = 0;           // a code (421, 554) answers SEND; 421 then closes
    QByteArray dropAfter;         // after this command (its verb) the line drops
    QByteArray silentAfter;       // from this command (its verb) on, no answers
    QByteArray dataReply = "354 Begin Input; End with <CRLF>'.'<CRLF>";
    // Every command line received, without CR LF, in order (DATA lines not included).
    QList<QByteArray> commands;
    // The lines between DATA and ".", as received (dots still doubled).
    QList<QByteArray> dataLines;
    // (pager ID, message) of every page that SEND accepted; the message of
    // DATA is un-stuffed, its lines joined with "\n".
    QList<QPair<QByteArray, QByteArray>> sent;
};
std::unique_ptr<ServerScript> makeSnppScript(std::shared_ptr<SnppTerminal> terminal);

} // namespace tessaly
