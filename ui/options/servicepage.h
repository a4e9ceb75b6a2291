#pragma once
// The "Pager Service" page: the service the pager is reached through, its
// telephone number and terminal password, the serial line settings, and
// where a network pager type reaches it (address, TLS, sender ID, security
// code, receipts).

#include "ui/options/optionspage.h"

namespace tessaly {

class ServicePage : public OptionsPage {
public:
    // The service names offered are the keys of `services`.
    explicit ServicePage(const ServiceList& services);

private:
    QWidget* buildNetwork();
};

} // namespace tessaly
