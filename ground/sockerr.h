#pragma once
// The socket error table: every error event of the POP3, SMTP, raw TCP and
// HTTP controls carries one of these numbers (the Windows Sockets code less
// 10000), and the program shows the text and name looked up here. The Linux
// errno values and resolver failures are mapped onto the same numbers so
// that users read the table's texts whatever the system reported.

#include <QString>

namespace tessaly::sockerr {

// Numbers the controls report themselves.
constexpr int NoError = -10000;
constexpr int Interrupted = 4;
constexpr int InvalidArgument = 22;
constexpr int MessageTooLong = 40; // a reply line or reply beyond the controls' limits
constexpr int NetDown = 50;
constexpr int ConnectionAborted = 53;
constexpr int ConnectionReset = 54; // the server closed the connection during an exchange
constexpr int NotSocket = 38;       // no connection under that socket number
constexpr int NotConnected = 57;
constexpr int TimedOut = 60;
constexpr int ConnectionRefused = 61;
constexpr int HostUnreachable = 65;
constexpr int HostNotFound = 1001;
constexpr int TryAgain = 1002;
constexpr int NoRecovery = 1003;
constexpr int NoData = 1004;

// Text for number k, "Unknown Error" for a number outside the table.
QString Text(int k);
// Symbolic name for number k, empty for a number outside the table.
QString Name(int k);
// Text and, when `name` is given, the name.
QString Lookup(int k, QString* name);

// A Linux errno value (ECONNREFUSED, ETIMEDOUT, ...) as a table number;
// values with no counterpart give ConnectionAborted.
int FromErrno(int errnoValue);
// A getaddrinfo() failure (EAI_NONAME, EAI_AGAIN, ...) as a table number.
int FromResolver(int eaiValue);

} // namespace tessaly::sockerr
