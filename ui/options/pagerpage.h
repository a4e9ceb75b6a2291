#pragma once
// The "Pager" page: the pager's user name and page length, how it is reached
// (PagerType) and what each way needs, and "Test Page".

#include "ui/options/optionspage.h"

#include <functional>

class QButtonGroup;
class QVBoxLayout;

namespace tessaly {

class Prompter;

class PagerPage : public OptionsPage {
public:
    // `testPage` sends a test page to the pager the dialog's fields describe.
    PagerPage(Prompter& prompter, std::function<void()> testPage);
    void applyRules() override;

private:
    void buildTypes(QVBoxLayout* layout);
    void buildNumeric(QVBoxLayout* layout);
    // Runs `check` on what the user typed into `edit`; a refused text is
    // replaced and the message shown.
    void checkWhileTyping(QLineEdit* edit, QString (*check)(QString&));
    // The frame with the fields pagers of this type need.
    QWidget* frameOf(PagerType type) const;

    Prompter& prompter_;
    QButtonGroup* optPagerType_ = nullptr;
    QWidget* fraAlpha_ = nullptr;
    QWidget* fraSMTP_ = nullptr;
    QWidget* fraNumeric_ = nullptr;
};

} // namespace tessaly
