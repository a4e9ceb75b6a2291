#pragma once
// CPager: one person's pager: its name, how it is reached and the
// identifiers each way of paging needs. Kept in the keyed list of pagers
// under its Username.

#include "features/paging/pagertype.h"
#include "ground/keyedlist.h"

#include <QString>
#include <cstdint>

namespace tessaly {

class CPager {
public:
    QString Username() const { return username_; }
    void SetUsername(const QString& v) { username_ = v; }
    // Sent to the paging terminal in every block; entered without dashes.
    QString ID() const { return id_; }
    void SetID(const QString& v) { id_ = v; }
    // Telephone number dialled for numeric pages.
    QString DigitalNumber() const { return digitalNumber_; }
    void SetDigitalNumber(const QString& v) { digitalNumber_ = v; }
    // Key into the service list (looked up without regard to letter case).
    QString ServiceName() const { return serviceName_; }
    void SetServiceName(const QString& v) { serviceName_ = v; }
    // How the pager is reached. Values outside the known types are pulled
    // to the nearest end. A type the profile file can hold is also the
    // profile's type; a later one leaves the profile's type as it was.
    tessaly::PagerType PagerType() const { return type_; }
    void SetPagerType(int v);
    // The type the profile file holds (one of the first three): the pager's
    // own type, or for a later type the one it had before (or the direct
    // modem for a pager made with a later type).
    tessaly::PagerType ProfileType() const { return profileType_; }
    // The type as the profile file gives it: values outside the first three
    // are pulled to the nearest end; sets the pager's type too.
    void SetProfileType(int v);
    QString EmailAddress() const { return emailAddress_; }
    void SetEmailAddress(const QString& v) { emailAddress_ = v; }
    QString FromAddress() const { return fromAddress_; }
    void SetFromAddress(const QString& v) { fromAddress_ = v; }

private:
    QString username_;
    QString id_;
    QString digitalNumber_;
    QString serviceName_;
    tessaly::PagerType type_ = PagerAlphaDialUp;
    tessaly::PagerType profileType_ = PagerAlphaDialUp;
    QString emailAddress_;
    QString fromAddress_;
};

using PagerList = KeyedList<CPager>;

} // namespace tessaly
