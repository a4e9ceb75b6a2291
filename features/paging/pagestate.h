#pragma once
// Result states of the paging engine: the outcome of the last modem or
// protocol operation of a paging service.

#include <cstdint>

namespace tessaly::pagestate {

constexpr std::int16_t OK = 0;
constexpr std::int16_t InitFailed = 1;      // modem did not initialise
constexpr std::int16_t NoConnection = 2;    // no CONNECT, or NO CARRIER before the prompt
constexpr std::int16_t Cancelled = 6;       // the user cancelled
constexpr std::int16_t NoDialTone = 7;
constexpr std::int16_t Busy = 8;
constexpr std::int16_t PortUnavailable = 9;
constexpr std::int16_t NoIdPrompt = 10;     // no "ID" from the terminal
constexpr std::int16_t NotAcknowledged = 11;
constexpr std::int16_t LogonRefused = 12;   // no go-ahead after the password
constexpr std::int16_t FrameTooLong = 13;

} // namespace tessaly::pagestate
