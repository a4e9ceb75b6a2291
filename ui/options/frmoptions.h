#pragma once
// frmOptions: the options dialog, ten pages with one frame each. The page
// captions stand in a list at the left, all of them in view at once; a click
// there, Ctrl+Tab / Ctrl+Shift+Tab or Ctrl+PgDn / Ctrl+PgUp show a page.
// Each page (ui/options/*page.h) shows and collects its own fields; the
// dialog shows the loaded fields on every page, forwards Save and Cancel and
// sends the test page. Loading, the checks and Save live in
// features/options; a Save refused by a check shows the page of the field
// and puts the focus there. Accounts and filters are edited in working
// copies that only Save puts back. The one-minute timer is stopped while the
// dialog is open.

#include "features/options/modemsettings.h"
#include "features/options/options.h"
#include "features/paging/manualpage.h"

#include <QDialog>
#include <vector>

class QListWidget;
class QStackedWidget;

namespace tessaly {

class OptionsPage;

class FrmOptions : public QDialog {
    Q_OBJECT
public:
    FrmOptions(OptionsContext ctx, ManualPageContext pages, ModemContext modem, QWidget* parent = nullptr);
    ~FrmOptions() override;

    // The list of page captions; each entry holds its page's key as user data.
    QListWidget* tabOptions() const { return tabs_; }
    // The frame of the page with this key ("General", "Internet", ...).
    QWidget* Page(const QString& key) const;
    // The key of the page shown now.
    QString CurrentPage() const;
    // Shows the page with this key.
    void ShowPage(const QString& key);
    // The field values as the user left them.
    OptionsFields Fields() const;
    const POPAccountList& WorkingAccounts() const { return accounts_; }
    const Filters& WorkingFilters() const { return filters_; }

public slots:
    void done(int result) override;

protected:
    void changeEvent(QEvent* event) override;

private:
    void addPage(OptionsPage* page);
    // Makes the page list as wide and tall as its captions.
    void fitPageList();
    // Shows the page `step` places after (before, when negative) the current
    // one, going round at either end.
    void stepPage(int step);
    // After a refused Save: the page of the field, and the focus in it.
    void showRefusedField(const options::SaveRefusal& refusal);
    void showFields(const OptionsFields& f);
    void testPage();
    void saveClicked();

    OptionsContext ctx_;
    ManualPageContext pagesCtx_;
    POPAccountList accounts_;
    Filters filters_;
    bool timerStopped_ = false;

    QListWidget* tabs_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    std::vector<OptionsPage*> pages_;
};

} // namespace tessaly
