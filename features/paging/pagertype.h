#pragma once
// How a pager is reached. A switch over it names every type and has no
// default, so a type added here and not handled there is a compiler warning.

#include <cstdint>

namespace tessaly {

enum PagerType : std::int16_t {
    PagerAlphaDialUp = 0, // "Alphanumeric (Direct)"
    PagerAlphaSMTP = 1,   // "Alphanumeric (SMTP)"
    PagerNumeric = 2,     // "Numeric"
};

} // namespace tessaly
