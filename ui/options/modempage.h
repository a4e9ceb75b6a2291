#pragma once
// The "Modem" page: one button that opens the modem settings window.

#include "features/options/modemsettings.h"
#include "ui/options/optionspage.h"

namespace tessaly {

class ModemPage : public OptionsPage {
public:
    explicit ModemPage(ModemContext modem);

private:
    ModemContext modem_;
};

} // namespace tessaly
