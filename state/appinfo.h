#pragma once
// The program's names and version.

#include <QString>

namespace tessaly {

inline const QString kAppTitle = QStringLiteral("Tessaly 1.1");
// Registry application name of the version whose settings are copied once.
inline const QString kPreviousAppTitle = QStringLiteral("Tessaly 1.0");
inline const QString kSettingsSection = QStringLiteral("Settings");
inline const QString kWindowCaption = QStringLiteral("Tessaly");

constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 1;
constexpr int kVersionRevision = 0;

// Version-check identity: the maker's server and the product's 11-digit identifier.
inline const QString kMakerServer = QStringLiteral("http://www.tessaly.net");
// The licence the program is distributed under, as the about window shows it.
inline const QString kLicenceText =
    QStringLiteral("Licensed under the GNU General Public License, version 3 or later.");
inline const QString kProductId = QStringLiteral("10110000001");

// "1.1.0000": major, minor ("##0"), revision ("0000"); computed once.
const QString& VersionString();
// "Version 1.1", the splash window's version label.
QString SplashVersionText();

} // namespace tessaly
