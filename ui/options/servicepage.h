#pragma once
// The "Pager Service" page: the service the pager is reached through, its
// telephone number and terminal password, and the serial line settings.

#include "ui/options/optionspage.h"

namespace tessaly {

class ServicePage : public OptionsPage {
public:
    // The service names offered are the keys of `services`.
    explicit ServicePage(const ServiceList& services);
};

} // namespace tessaly
