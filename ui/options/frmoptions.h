#pragma once
// frmOptions: the options dialog, a tab strip of ten pages over one frame
// each. Each page (ui/options/*page.h) shows and collects its own fields;
// the dialog shows the loaded fields on every page, forwards Save and Cancel
// and sends the test page. Loading, the checks and Save live in
// features/options. Accounts and filters are edited in working copies that
// only Save puts back. The one-minute timer is stopped while the dialog is
// open.

#include "features/options/modemsettings.h"
#include "features/options/options.h"
#include "features/paging/manualpage.h"

#include <QDialog>
#include <vector>

class QStackedWidget;
class QTabBar;

namespace tessaly {

class OptionsPage;

class FrmOptions : public QDialog {
    Q_OBJECT
public:
    FrmOptions(OptionsContext ctx, ManualPageContext pages, ModemContext modem, QWidget* parent = nullptr);
    ~FrmOptions() override;

    QTabBar* tabOptions() const { return tabs_; }
    // The frame of the page with this tab key ("General", "Internet", ...).
    QWidget* Page(const QString& key) const;
    // The field values as the user left them.
    OptionsFields Fields() const;
    const POPAccountList& WorkingAccounts() const { return accounts_; }
    const Filters& WorkingFilters() const { return filters_; }

public slots:
    void done(int result) override;

private:
    void addPage(OptionsPage* page);
    void showFields(const OptionsFields& f);
    void testPage();
    void saveClicked();

    OptionsContext ctx_;
    ManualPageContext pagesCtx_;
    POPAccountList accounts_;
    Filters filters_;
    bool timerStopped_ = false;

    QTabBar* tabs_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    std::vector<OptionsPage*> pages_;
};

} // namespace tessaly
