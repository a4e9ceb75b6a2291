#pragma once
// The "Spam Filter" page: the mail filter rules (the dialog's working copy),
// added, edited and removed in the filter window, ticked to be used.

#include "ui/options/optionspage.h"

class QListWidget;

namespace tessaly {

class Prompter;

class SpamPage : public OptionsPage {
public:
    // `filters` is the working copy that Save puts back.
    SpamPage(Prompter& prompter, Filters& filters);

private:
    void fillFilters();
    void newFilter();
    void editFilter();
    void removeFilter();

    Prompter& prompter_;
    Filters& filters_;
    QListWidget* lstFilters_ = nullptr;
};

} // namespace tessaly
