#pragma once
// The values of the network pager types that the profile file has no
// fields for, kept in the settings file:
//   [Pager Types]       <pager name>=WCTP | SNPP | TCP
//   [Carrier Services]  <service name>.Address=https://... | host:port
//                       <service name>.TLS=1
//                       <service name>.Sender ID=...
//                       <service name>.Security Code=...
//                       <service name>.Receipts=1
// Names are those of the profile's lists; entries of names a profile does
// not hold are left alone (another profile may hold them).

#include "features/paging/cpager.h"
#include "features/paging/cpagerservice.h"

#include <QString>
#include <optional>

namespace tessaly {

class SettingsStore;

inline const QString kPagerTypesSection = QStringLiteral("Pager Types");
inline const QString kCarrierServicesSection = QStringLiteral("Carrier Services");

// "WCTP", "SNPP", "TCP" for the types the profile cannot hold; empty for the others.
QString CarrierTypeText(PagerType t);
// The type a text of the settings file names (any letter case); none for another text.
std::optional<PagerType> ParseCarrierType(const QString& text);

// Gives the pagers their types and the services their network values as
// the settings file holds them.
void ApplyCarrierSettings(const SettingsStore& store, PagerList& pagers, ServiceList& services);

// Writes what differs from the settings file: a pager of a profile type
// loses its entry, and a service value back at its default its entry. An
// entry read as the value it would be written as is left as it stands.
// Returns the reason of the first write that did not reach the disk; empty
// when all did.
QString SaveCarrierSettings(SettingsStore& store, const PagerList& pagers, const ServiceList& services);

} // namespace tessaly
