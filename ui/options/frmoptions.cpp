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

#include <QEvent>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStackedWidget>
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

    // The page list never scrolls or cuts a caption: it is made as wide and
    // as tall as its entries once they are in.
    tabs_ = new QListWidget(this);
    tabs_->setObjectName(QStringLiteral("tabOptions"));
    tabs_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tabs_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tabs_->setTextElideMode(Qt::ElideNone);
    tabs_->setSelectionMode(QAbstractItemView::SingleSelection);
    tabs_->setSpacing(2);
    stack_ = new QStackedWidget(this);
    addPage(new GeneralPage(ctx_.prompter));
    addPage(new InternetPage(ctx_));
    addPage(new ModemPage(std::move(modem)));
    addPage(new ServicePage(ctx_.services));
    addPage(new PagerPage(ctx_.prompter, [this] { testPage(); }));
    addPage(new InMailPage(ctx_, accounts_));
    addPage(new OutMailPage(ctx_));
    addPage(new SchedulePage);
    addPage(new RemotePage);
    addPage(new SpamPage(ctx_.prompter, filters_));
    fitPageList();
    connect(tabs_, &QListWidget::currentRowChanged, stack_, &QStackedWidget::setCurrentIndex);
    tabs_->setCurrentRow(0);
    // The keys a tabbed dialog switches its pages with, wherever the focus is.
    const struct {
        QKeySequence keys;
        int step;
    } steps[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1}, // as X11 reports Ctrl+Shift+Tab
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1},
    };
    for (const auto& s : steps) {
        auto* shortcut = new QShortcut(s.keys, this);
        const int step = s.step;
        connect(shortcut, &QShortcut::activated, this, [this, step] { stepPage(step); });
    }

    auto* cmdSave = optionsui::button(this, "cmdSave", "Save");
    auto* cmdCancel = optionsui::button(this, "cmdCancel", "Cancel");
    connect(cmdSave, &QPushButton::clicked, this, &FrmOptions::saveClicked);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdSave);
    buttons->addWidget(cmdCancel);
    auto* pagesRow = new QHBoxLayout;
    pagesRow->addWidget(tabs_, 0, Qt::AlignTop);
    pagesRow->addWidget(stack_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(pagesRow, 1);
    layout->addLayout(buttons);

    // 3. The fields, and the rules for them.
    showFields(options::Load(ctx_));
}

FrmOptions::~FrmOptions() {
    if (timerStopped_)
        ctx_.minuteTimer.start();
}

void FrmOptions::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (tabs_ && (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange))
        fitPageList();
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

QString FrmOptions::CurrentPage() const {
    const QListWidgetItem* item = tabs_->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

void FrmOptions::ShowPage(const QString& key) {
    for (int i = 0; i < tabs_->count(); ++i)
        if (tabs_->item(i)->data(Qt::UserRole).toString() == key)
            tabs_->setCurrentRow(i);
}

void FrmOptions::addPage(OptionsPage* page) {
    auto* item = new QListWidgetItem(page->caption(), tabs_);
    item->setData(Qt::UserRole, page->key());
    if (!page->tip().isEmpty())
        item->setToolTip(page->tip());
    stack_->addWidget(page);
    pages_.push_back(page);
}

void FrmOptions::fitPageList() {
    int height = 0;
    for (int i = 0; i < tabs_->count(); ++i)
        height += tabs_->sizeHintForRow(i) + 2 * tabs_->spacing();
    // Room for the frame, and a little beside the longest caption.
    const int frame = 2 * tabs_->frameWidth();
    const int margin = 2 * tabs_->fontMetrics().averageCharWidth();
    tabs_->setFixedSize(tabs_->sizeHintForColumn(0) + frame + margin, height + frame);
}

void FrmOptions::stepPage(int step) {
    const int count = tabs_->count();
    if (count == 0)
        return;
    tabs_->setCurrentRow(((tabs_->currentRow() + step) % count + count) % count);
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
    manualpage::SendTestPage(pagesCtx_, t, ctx_.services);
}

void FrmOptions::saveClicked() {
    OptionsFields f = Fields();
    options::SaveRefusal refusal;
    const bool saved = options::Save(ctx_, f, accounts_, filters_, &refusal);
    // Save may have corrected some fields.
    showFields(f);
    if (saved)
        accept();
    else
        showRefusedField(refusal);
}

void FrmOptions::showRefusedField(const options::SaveRefusal& refusal) {
    using options::OptionsField;
    const char* name = nullptr;
    switch (refusal.field) {
    case OptionsField::None: return;
    case OptionsField::Accounts: name = "lstAccounts"; break;
    case OptionsField::PagerEmail: name = "txtPagerEmail"; break;
    case OptionsField::ProxyHost: name = "txtProxyName"; break;
    case OptionsField::SmtpPort: name = "txtSMTPPort"; break;
    case OptionsField::DialPassword: name = "txtDialPassword"; break;
    case OptionsField::RemotePassword: name = "txtRemotePassword"; break;
    case OptionsField::RemoteSenders: name = "txtRemoteSenders"; break;
    case OptionsField::MaxPageLength: name = "txtMaxPageLength"; break;
    case OptionsField::UserName: name = "txtUserName"; break;
    case OptionsField::PagerId: name = "txtPagerID"; break;
    case OptionsField::ServiceAddress: name = "txtAddress"; break;
    case OptionsField::StartTime: name = "txtStartTime"; break;
    case OptionsField::StopTime: name = "txtStopTime"; break;
    case OptionsField::Fallback: name = "txtFallback"; break;
    case OptionsField::NoticeAddress: name = "txtNoticeAddress"; break;
    case OptionsField::ProofOfLife: name = "txtProofOfLife"; break;
    }
    QWidget* field = findChild<QWidget*>(QString::fromLatin1(name));
    if (!field)
        return;
    for (OptionsPage* page : pages_)
        if (page->isAncestorOf(field))
            ShowPage(page->key());
    if (auto* list = qobject_cast<QListWidget*>(field); list && refusal.account > 0 && refusal.account <= list->count())
        list->setCurrentRow(refusal.account - 1);
    field->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(field))
        edit->selectAll();
}

} // namespace tessaly
