#pragma once
// How a pager is reached. A switch over it names every type and has no
// default, so a type added here and not handled there is a compiler warning.
//
// The profile file holds only the first three; a pager of a later type
// keeps one of those in the profile (see CPager::ProfileType) and its real
// type in the settings file, so a program that knows only the three never
// reads a type it would take for another.

#include <cstdint>

namespace tessaly {

enum PagerType : std::int16_t {
    PagerAlphaDialUp = 0, // "Alphanumeric (Direct)"
    PagerAlphaSMTP = 1,   // "Alphanumeric (SMTP)"
    PagerNumeric = 2,     // "Numeric"
    PagerWCTP = 3,        // "Alphanumeric (WCTP)": XML over HTTP(S) to a carrier
    PagerSNPP = 4,        // "Alphanumeric (SNPP)": the network paging protocol
    PagerAlphaTCP = 5,    // "Alphanumeric (TCP)": the paging terminal at host:port
};

constexpr PagerType kLastProfileType = PagerNumeric;
constexpr PagerType kLastPagerType = PagerAlphaTCP;

// Whether the profile file can hold the type itself.
constexpr bool IsProfileType(PagerType t) { return t <= kLastProfileType; }

} // namespace tessaly
