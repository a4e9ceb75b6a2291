#pragma once
// The "Schedule" page: how often mail is checked, between which times of
// day, and on which days of the week.

#include "ui/options/optionspage.h"

namespace tessaly {

class SchedulePage : public OptionsPage {
public:
    SchedulePage();
};

} // namespace tessaly
