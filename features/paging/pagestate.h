#pragma once
// Result states of the paging engine: the outcome of the last modem or
// protocol operation of a paging service.

#include <QString>
#include <cstdint>

namespace tessaly::pagestate {

constexpr std::int16_t OK = 0;
constexpr std::int16_t InitFailed = 1;   // modem did not initialise
constexpr std::int16_t NoConnection = 2; // no CONNECT, or NO CARRIER before the prompt
constexpr std::int16_t Cancelled = 6;    // the user cancelled
constexpr std::int16_t NoDialTone = 7;
constexpr std::int16_t Busy = 8;
constexpr std::int16_t PortUnavailable = 9;
constexpr std::int16_t NoIdPrompt = 10; // no "ID" from the terminal
constexpr std::int16_t NotAcknowledged = 11;
constexpr std::int16_t LogonRefused = 12; // no go-ahead after the password
constexpr std::int16_t FrameTooLong = 13; // not even a cut block fits a frame
constexpr std::int16_t LineLost = 14;     // the serial device hung up or went away
constexpr std::int16_t NoCarrier = 15;    // "NO CARRIER" right after dialling
constexpr std::int16_t NoAnswer = 16;     // "NO ANSWER" after dialling
constexpr std::int16_t DialError = 17;    // the modem answered the dial with "ERROR"
constexpr std::int16_t LineNoise = 18;    // over 5000 characters and no result word

// What an activity line says about a failed call or dial in `state`, after
// its "Pager: " or "Digital Pager: " prefix ("Busy", "No Dialtone"). Empty
// for success and for the block states, whose lines name the block.
QString Reason(std::int16_t state);

} // namespace tessaly::pagestate
