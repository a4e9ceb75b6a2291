#pragma once
// The one exception type of the program: an error number and its text.
// Thrown only inside a subsystem, caught by the procedure that guards the
// step and turned into a log line or a message box there.

#include <QString>
#include <stdexcept>

namespace tessaly {

class TessalyError : public std::runtime_error {
public:
    TessalyError(int number, const QString& description)
        : std::runtime_error(description.toStdString()), number_(number), description_(description) {}
    int number() const { return number_; }
    const QString& description() const { return description_; }

private:
    int number_;
    QString description_;
};

// Error numbers with a fixed meaning throughout the program.
namespace err {
constexpr int InvalidCall = 5;    // "Invalid procedure call or argument"
constexpr int Overflow = 6;       // a number does not fit its field
constexpr int SubscriptRange = 9; // position or key outside a list or table
constexpr int FileNotFound = 53;
constexpr int InputPastEnd = 62;  // reading beyond the last field of a file
constexpr int DuplicateKey = 457; // a key already in a keyed list
} // namespace err

inline TessalyError overflowError() { return TessalyError(err::Overflow, QStringLiteral("Overflow")); }

} // namespace tessaly
