#pragma once
// The "Outgoing Mail" page: the domain and the SMTP server, its security,
// login and password (or the command that prints it), and extra trusted
// certificates.

#include "ui/options/optionspage.h"

namespace tessaly {

class OutMailPage : public OptionsPage {
public:
    explicit OutMailPage(OptionsContext& ctx);
};

} // namespace tessaly
