#include "ui/options/frmoptions.h"

#include "platform/eventpump.h"
#include "ui/options/generalpage.h"
#include "ui/options/inmailpage.h"
#include "ui/options/internetpage.h"
#include "ui/options/modempage.h"
#include "ui/options/outmailpage.h"
#include "ui/options/pagerpage.h"
#include "ui/options/remotepage.h"
#include "ui/options/schedulepage.h"
#include "ui/options/servicepage.h"
#include "ui/options/spampage.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

namespace tessaly {

FrmOptions::FrmOptions(OptionsContext ctx, ManualPageContext pages, ModemContext modem, QWidget* parent)
    : QDialog(parent), ctx_(std::move(ctx)), pagesCtx_(std::move(pages)) {
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Options"));
    setModal(true);

    // 1. The working copies.
    ctx_.accounts.CopyObjects(accounts_);
    ctx_.filters.CopyObjects(filters_);
    // 2. No scheduled check while the dialog is open.
    ctx_.minuteTimer.stop();
    timerStopped_ = true;

    tabs_ = new QTabBar(this);
    tabs_->setObjectName(QStringLiteral("tabOptions"));
    tabs_->setUsesScrollButtons(true);
    tabs_->setExpanding(false);
    stack_ = new QStackedWidget(this);
    addPage(new GeneralPage(ctx_.prompter));
    addPage(new InternetPage(ctx_));
    addPage(new ModemPage(std::move(modem)));
    addPage(new ServicePage(ctx_.services));
    addPage(new PagerPage(ctx_.prompter, [this] { testPage(); }));
    addPage(new InMailPage(ctx_, accounts_));
    addPage(new OutMailPage);
    addPage(new SchedulePage);
    addPage(new RemotePage);
    addPage(new SpamPage(ctx_.prompter, filters_));
    connect(tabs_, &QTabBar::currentChanged, stack_, &QStackedWidget::setCurrentIndex);

    auto* cmdSave = optionsui::button(this, "cmdSave", "Save");
    auto* cmdCancel = optionsui::button(this, "cmdCancel", "Cancel");
    connect(cmdSave, &QPushButton::clicked, this, &FrmOptions::saveClicked);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdSave);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(stack_, 1);
    layout->addLayout(buttons);

    // 3. The fields, and the rules for them.
    showFields(options::Load(ctx_));
}

FrmOptions::~FrmOptions() {
    if (timerStopped_)
        ctx_.minuteTimer.start();
}

void FrmOptions::done(int result) {
    if (timerStopped_) {
        timerStopped_ = false;
        ctx_.minuteTimer.start();
    }
    QDialog::done(result);
}

QWidget* FrmOptions::Page(const QString& key) const {
    for (OptionsPage* page : pages_)
        if (page->key() == key)
            return page;
    return nullptr;
}

void FrmOptions::addPage(OptionsPage* page) {
    const int i = tabs_->addTab(page->caption());
    tabs_->setTabData(i, page->key());
    tabs_->setTabToolTip(i, page->tip());
    stack_->addWidget(page);
    pages_.push_back(page);
}

void FrmOptions::showFields(const OptionsFields& f) {
    for (OptionsPage* page : pages_)
        page->show(f);
}

OptionsFields FrmOptions::Fields() const {
    OptionsFields f;
    for (const OptionsPage* page : pages_)
        page->collect(f);
    return f;
}

void FrmOptions::testPage() {
    const OptionsFields f = Fields();
    manualpage::TestPager t;
    t.service = f.serviceName;
    t.type = f.pagerType;
    t.pagerId = f.pagerId;
    t.emailAddress = f.pagerEmail;
    t.fromAddress = f.pagerFrom;
    t.numericPhone = f.numericPhone;
    manualpage::SendTestPage(pagesCtx_, t);
}

void FrmOptions::saveClicked() {
    OptionsFields f = Fields();
    const bool saved = options::Save(ctx_, f, accounts_, filters_);
    // Save may have corrected some fields.
    showFields(f);
    if (saved)
        accept();
}

} // namespace tessaly
