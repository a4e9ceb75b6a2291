#include "ui/options/frmoptions.h"

#include "features/connection/connection.h"
#include "ground/tessalyerror.h"
#include "platform/dialupcontrol.h"
#include "platform/eventpump.h"
#include "platform/prompter.h"
#include "platform/tlschoice.h"
#include "state/livesettings.h"
#include "ui/filters/frmfilter.h"
#include "ui/mail/frmpop3.h"
#include "ui/paging/frmmodem.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

namespace tessaly {

namespace {

QLineEdit* lineEdit(QWidget* parent, const char* name, const char* tip = nullptr) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    if (tip)
        e->setToolTip(QString::fromLatin1(tip));
    return e;
}
QCheckBox* checkBox(QWidget* parent, const char* name, const char* caption, const char* tip = nullptr) {
    auto* c = new QCheckBox(QString::fromLatin1(caption), parent);
    c->setObjectName(QString::fromLatin1(name));
    if (tip)
        c->setToolTip(QString::fromLatin1(tip));
    return c;
}
QPushButton* button(QWidget* parent, const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}
QComboBox* comboBox(QWidget* parent, const char* name, const QStringList& items = {}) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    c->addItems(items);
    return c;
}
QGroupBox* frame(QWidget* parent, const char* name, const char* caption) {
    auto* g = new QGroupBox(QString::fromLatin1(caption), parent);
    g->setObjectName(QString::fromLatin1(name));
    return g;
}
// Selects the entry with this text; a stored value the list lacks is added
// so that saving does not lose it.
void selectText(QComboBox* box, const QString& text) {
    int i = box->findText(text);
    if (i < 0 && !text.isEmpty()) {
        box->addItem(text);
        i = box->count() - 1;
    }
    box->setCurrentIndex(i);
}
// A field with a browse button beside it.
QHBoxLayout* withButton(QWidget* field, QPushButton* b) {
    auto* row = new QHBoxLayout;
    row->addWidget(field, 1);
    row->addWidget(b);
    return row;
}

const char* const kDayNames[] = {"", "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

} // namespace

FrmOptions::FrmOptions(OptionsContext ctx, ManualPageContext pages, ModemContext modem, QWidget* parent)
    : QDialog(parent), ctx_(std::move(ctx)), pagesCtx_(std::move(pages)), modemCtx_(std::move(modem)) {
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
    buildGeneral();
    buildInternet();
    buildModem();
    buildService();
    buildPager();
    buildInMail();
    buildOutMail();
    buildSchedule();
    buildRemote();
    buildSpam();
    connect(tabs_, &QTabBar::currentChanged, stack_, &QStackedWidget::setCurrentIndex);

    auto* cmdSave = button(this, "cmdSave", "Save");
    auto* cmdCancel = button(this, "cmdCancel", "Cancel");
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

    // 3. The fields; 4. the dependent-enable rules for the loaded state.
    fillAccounts();
    fillFilters();
    showFields(options::Load(ctx_));
    applyRules();
    for (QCheckBox* c : {chkDownload_, chkPageHeaders_, chkSound_, chkProxy_})
        connect(c, &QCheckBox::clicked, this, &FrmOptions::applyRules);
    connect(optConnection_, &QButtonGroup::idClicked, this, &FrmOptions::applyRules);
    connect(optPagerType_, &QButtonGroup::idClicked, this, &FrmOptions::applyRules);
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

QWidget* FrmOptions::addPage(const QString& caption, const QString& key, const QString& tip) {
    auto* page = new QWidget(stack_);
    page->setObjectName(QStringLiteral("fra") + key);
    const int i = tabs_->addTab(caption);
    tabs_->setTabData(i, key);
    tabs_->setTabToolTip(i, tip);
    stack_->addWidget(page);
    pages_.insert(key, page);
    return page;
}

void FrmOptions::buildGeneral() {
    QWidget* p = addPage(QStringLiteral("General"), QStringLiteral("General"), QStringLiteral("General Options"));
    auto* form = new QFormLayout(p);
    txtStartupFile_ = lineEdit(p, "txtStartupFile");
    txtStartupFile_->setText(QStringLiteral("default.pgr"));
    auto* cmdBrowseStartup = button(p, "cmdBrowseStartup", "...");
    form->addRow(QStringLiteral("Startup Tessaly File"), withButton(txtStartupFile_, cmdBrowseStartup));
    txtEmailClient_ = lineEdit(p, "txtEmailClient");
    auto* cmdBrowseClient = button(p, "cmdBrowseClient", "...");
    form->addRow(QStringLiteral("Email Client Program Path"), withButton(txtEmailClient_, cmdBrowseClient));
    chkSound_ = checkBox(p, "chkSound", "Play Sound When New Mail Arrives");
    form->addRow(chkSound_);
    txtSoundFile_ = lineEdit(p, "txtSoundFile");
    txtSoundFile_->setText(QStringLiteral("NewMail.wav"));
    cmdBrowseSound_ = button(p, "cmdBrowseSound", "...");
    form->addRow(QString(), withButton(txtSoundFile_, cmdBrowseSound_));
    auto* sizeRow = new QHBoxLayout;
    lblIgnore_ = new QLabel(QStringLiteral("Ignore messages greater than"), p);
    lblIgnore_->setObjectName(QStringLiteral("lblIgnore"));
    txtMailSize_ = lineEdit(p, "txtMailSize");
    txtMailSize_->setText(QStringLiteral("40"));
    txtMailSize_->setMaximumWidth(60);
    lblKBytes_ = new QLabel(QStringLiteral("KBytes"), p);
    lblKBytes_->setObjectName(QStringLiteral("lblKBytes"));
    sizeRow->addWidget(lblIgnore_);
    sizeRow->addWidget(txtMailSize_);
    sizeRow->addWidget(lblKBytes_);
    sizeRow->addStretch();
    form->addRow(sizeRow);
    chkDownload_ = checkBox(p, "chkDownload", "Download Email Messages ");
    form->addRow(chkDownload_);
    chkPageHeaders_ = checkBox(p, "chkPageHeaders", "Page Email Headers", "Page Date, From, and Subject of email message");
    form->addRow(chkPageHeaders_);
    chkPageBody_ = checkBox(p, "chkPageBody", "Page Email message body");
    form->addRow(chkPageBody_);
    chkPagePriority_ = checkBox(p, "chkPagePriority", "Page Email message body on highest priority (1)");
    form->addRow(chkPagePriority_);
    txtMaxPages_ = lineEdit(p, "txtMaxPages");
    txtMaxPages_->setText(QStringLiteral("5"));
    txtMaxPages_->setMaximumWidth(60);
    form->addRow(QStringLiteral("Maximum pages per message:"), txtMaxPages_);
    chkShowStatus_ = checkBox(p, "chkShowStatus", "Show Communication Status");
    form->addRow(chkShowStatus_);
    chkTray_ = checkBox(p, "chkTray", "Dock in system tray");
    form->addRow(chkTray_);
    chkUpdates_ = checkBox(p, "chkUpdates", "Check for program updates (daily)");
    form->addRow(chkUpdates_);

    connect(cmdBrowseClient, &QPushButton::clicked, this, [this] {
        browse(txtEmailClient_, QStringLiteral("Select Email Client Program File"), QStringLiteral("All Files (*)"));
    });
    connect(cmdBrowseSound_, &QPushButton::clicked, this, [this] {
        browse(txtSoundFile_, QStringLiteral("Select .WAV File"),
               QStringLiteral("WAV Files (*.WAV *.wav);;All Files (*)"));
    });
    connect(cmdBrowseStartup, &QPushButton::clicked, this, [this] {
        browse(txtStartupFile_, QStringLiteral("Open File"), QStringLiteral("Tessaly Files (*.dat);;All Files (*)"));
    });
}

void FrmOptions::buildInternet() {
    QWidget* p = addPage(QStringLiteral("Internet Connection"), QStringLiteral("Internet"),
                         QStringLiteral("Internet Connection Properties"));
    auto* layout = new QVBoxLayout(p);
    optConnection_ = new QButtonGroup(this);
    auto* choices = new QHBoxLayout;
    const char* names[] = {"optDialUp", "optDirect", "optExternal"};
    const char* captions[] = {"Use Dial-Up Networking", "Use Direct Connection", "Run External Dialer"};
    for (int i = 0; i < 3; ++i) {
        auto* r = new QRadioButton(QString::fromLatin1(captions[i]), p);
        r->setObjectName(QString::fromLatin1(names[i]));
        optConnection_->addButton(r, i);
        choices->addWidget(r);
    }
    layout->addLayout(choices);

    auto* dial = frame(p, "fraDialUp", "Dial-Up Networking");
    fraDialUp_ = dial;
    auto* grid = new QGridLayout(dial);
    cmbDialUp_ = comboBox(dial, "cmbDialUp");
    grid->addWidget(new QLabel(QStringLiteral("Service Name:"), dial), 0, 0);
    grid->addWidget(cmbDialUp_, 0, 1, 1, 3);
    txtUserID_ = lineEdit(dial, "txtUserID");
    grid->addWidget(new QLabel(QStringLiteral("User ID:"), dial), 1, 0);
    grid->addWidget(txtUserID_, 1, 1);
    txtDialPassword_ = lineEdit(dial, "txtDialPassword");
    txtDialPassword_->setEchoMode(QLineEdit::Password);
    grid->addWidget(new QLabel(QStringLiteral("Password:"), dial), 1, 2);
    grid->addWidget(txtDialPassword_, 1, 3);
    txtTimeout_ = lineEdit(dial, "txtTimeout", "number of seconds that an attempt to connect to ISP is retried");
    txtTimeout_->setText(QStringLiteral("60"));
    grid->addWidget(new QLabel(QStringLiteral("Timeout:"), dial), 2, 0);
    grid->addWidget(txtTimeout_, 2, 1);
    txtRetries_ = lineEdit(dial, "txtRetries", "number of attempts to retry a connection");
    txtRetries_->setText(QStringLiteral("3"));
    grid->addWidget(new QLabel(QStringLiteral("Retries:"), dial), 2, 2);
    grid->addWidget(txtRetries_, 2, 3);
    cmdTestConnection_ = button(dial, "cmdTestConnection", "Test Connection");
    grid->addWidget(cmdTestConnection_, 3, 3);
    layout->addWidget(dial);

    auto* ext = frame(p, "fraExternal", "External Dialer");
    fraExternal_ = ext;
    auto* extForm = new QFormLayout(ext);
    txtExternalDialer_ = lineEdit(ext, "txtExternalDialer");
    extForm->addRow(QStringLiteral("External Dialer Path and Filename"), txtExternalDialer_);
    layout->addWidget(ext);

    chkProxy_ = checkBox(p, "chkProxy", "Use Proxy Server");
    layout->addWidget(chkProxy_);
    auto* proxy = frame(p, "fraProxy", "Proxy Server");
    fraProxy_ = proxy;
    auto* proxyGrid = new QGridLayout(proxy);
    txtProxyName_ = lineEdit(proxy, "txtProxyName");
    proxyGrid->addWidget(new QLabel(QStringLiteral("Host Name:"), proxy), 0, 0);
    proxyGrid->addWidget(txtProxyName_, 0, 1, 1, 3);
    txtProxyAddress_ = lineEdit(proxy, "txtProxyAddress", "IP address of proxy server");
    proxyGrid->addWidget(new QLabel(QStringLiteral("Host Address:"), proxy), 1, 0);
    proxyGrid->addWidget(txtProxyAddress_, 1, 1);
    txtProxyPort_ = lineEdit(proxy, "txtProxyPort", "Proxy Port (default 80)");
    txtProxyPort_->setText(QStringLiteral("80"));
    proxyGrid->addWidget(new QLabel(QStringLiteral("Port:"), proxy), 1, 2);
    proxyGrid->addWidget(txtProxyPort_, 1, 3);
    layout->addWidget(proxy);
    layout->addStretch();

    txtTimeout_->installEventFilter(this);
    connect(cmbDialUp_, &QComboBox::activated, this, &FrmOptions::dialUpEntryChosen);
    connect(cmdTestConnection_, &QPushButton::clicked, this, &FrmOptions::testConnection);
}

void FrmOptions::buildModem() {
    QWidget* p = addPage(QStringLiteral("Modem"), QStringLiteral("Modem"), QStringLiteral("Non-Internet Modem Settings"));
    auto* layout = new QVBoxLayout(p);
    auto* cmdModem = button(p, "cmdModem", "Non-Internet Modem Properties");
    layout->addWidget(cmdModem, 0, Qt::AlignLeft);
    layout->addStretch();
    connect(cmdModem, &QPushButton::clicked, this, &FrmOptions::openModem);
}

void FrmOptions::buildService() {
    QWidget* p = addPage(QStringLiteral("Pager Service"), QStringLiteral("Paging"), QStringLiteral("Pager Service Properties"));
    auto* form = new QFormLayout(p);
    cmbService_ = comboBox(p, "cmbService");
    form->addRow(QStringLiteral("Service Name"), cmbService_);
    txtServicePhone_ = lineEdit(p, "txtServicePhone", "Dialup number to your pager service");
    form->addRow(QStringLiteral("PGR Service Phone No.:"), txtServicePhone_);
    txtTerminalPassword_ = lineEdit(p, "txtTerminalPassword", "typically blank");
    form->addRow(QStringLiteral("Terminal Password:"), txtTerminalPassword_);
    cmbBaud_ = comboBox(p, "cmbBaud", options::BaudRates());
    form->addRow(QStringLiteral("Baud Rate"), cmbBaud_);
    cmbParity_ = comboBox(p, "cmbParity", options::Parities());
    form->addRow(QStringLiteral("Parity"), cmbParity_);
    cmbDataBits_ = comboBox(p, "cmbDataBits", options::DataBits());
    form->addRow(QStringLiteral("Data Bits"), cmbDataBits_);
    cmbStopBits_ = comboBox(p, "cmbStopBits", options::StopBits());
    form->addRow(QStringLiteral("Stop Bits"), cmbStopBits_);
}

void FrmOptions::buildPager() {
    QWidget* p = addPage(QStringLiteral("Pager"), QStringLiteral("Pager"), QStringLiteral("Pager Properties"));
    auto* layout = new QVBoxLayout(p);
    auto* top = new QFormLayout;
    txtUserName_ = lineEdit(p, "txtUserName", "name for this pager");
    top->addRow(QStringLiteral("User Name:"), txtUserName_);
    txtMaxPageLength_ = lineEdit(p, "txtMaxPageLength", "maximum number of characters per page");
    top->addRow(QStringLiteral("Max Page Length:"), txtMaxPageLength_);
    layout->addLayout(top);

    auto* types = frame(p, "fraPagerType", "Pager Type");
    auto* typeRow = new QHBoxLayout(types);
    optPagerType_ = new QButtonGroup(this);
    const char* captions[] = {"Alphanumeric (Direct)", "Alphanumeric (SMTP)", "Numeric"};
    const char* tips[] = {"messages are sent to pager via direct dial to pager service",
                          "message is sent to pager via email", "messages are numeric only via touch-tone phone"};
    for (int i = 0; i < 3; ++i) {
        auto* r = new QRadioButton(QString::fromLatin1(captions[i]), types);
        r->setObjectName(QStringLiteral("optPagerType%1").arg(i));
        r->setToolTip(QString::fromLatin1(tips[i]));
        optPagerType_->addButton(r, i);
        typeRow->addWidget(r);
    }
    layout->addWidget(types);

    auto* alpha = frame(p, "fraAlpha", "Alphanumeric");
    fraAlpha_ = alpha;
    auto* alphaForm = new QFormLayout(alpha);
    txtPagerID_ = lineEdit(alpha, "txtPagerID");
    alphaForm->addRow(QStringLiteral("Pager Identifier:"), txtPagerID_);
    layout->addWidget(alpha);

    auto* smtp = frame(p, "fraSMTP", "SMTP");
    fraSMTP_ = smtp;
    auto* smtpForm = new QFormLayout(smtp);
    txtPagerEmail_ = lineEdit(smtp, "txtPagerEmail");
    smtpForm->addRow(QStringLiteral("Email Address:"), txtPagerEmail_);
    txtPagerFrom_ = lineEdit(smtp, "txtPagerFrom");
    txtPagerFrom_->setPlaceholderText(QStringLiteral("yourname@yourprovider.com"));
    smtpForm->addRow(QStringLiteral("From:"), txtPagerFrom_);
    layout->addWidget(smtp);

    auto* numeric = frame(p, "fraNumeric", "Numeric");
    fraNumeric_ = numeric;
    auto* numGrid = new QGridLayout(numeric);
    txtNumericPhone_ = lineEdit(numeric, "txtNumericPhone");
    numGrid->addWidget(new QLabel(QStringLiteral("Numeric Phone:"), numeric), 0, 0);
    numGrid->addWidget(txtNumericPhone_, 0, 1, 1, 3);
    txtPrefix_ = lineEdit(numeric, "txtPrefix", "Numeric message prefix to indicate email");
    txtPrefix_->setText(QStringLiteral("111*"));
    numGrid->addWidget(new QLabel(QStringLiteral("Message Prefix:"), numeric), 1, 0);
    numGrid->addWidget(txtPrefix_, 1, 1);
    txtDelay_ = lineEdit(numeric, "txtDelay", "Delay after dialing pager before message is sent");
    txtDelay_->setText(QStringLiteral("8"));
    txtDelay_->setMaximumWidth(50);
    numGrid->addWidget(new QLabel(QStringLiteral("Delay after dial:"), numeric), 1, 2);
    auto* delayRow = new QHBoxLayout;
    delayRow->addWidget(txtDelay_);
    delayRow->addWidget(new QLabel(QStringLiteral("Sec."), numeric));
    numGrid->addLayout(delayRow, 1, 3);
    layout->addWidget(numeric);

    auto* cmdTestPage = button(p, "cmdTestPage", "Test Page");
    layout->addWidget(cmdTestPage, 0, Qt::AlignRight);
    layout->addStretch();

    connect(txtMaxPageLength_, &QLineEdit::textEdited, this, [this] {
        QString text = txtMaxPageLength_->text();
        const QString message = options::CheckMaxPageLength(text);
        if (message.isEmpty())
            return;
        txtMaxPageLength_->setText(text);
        ctx_.prompter.messageBox(message, MsgButtons::OK);
    });
    connect(txtPagerID_, &QLineEdit::textEdited, this, [this] {
        QString text = txtPagerID_->text();
        const QString message = options::CheckPagerId(text);
        if (message.isEmpty())
            return;
        txtPagerID_->setText(text);
        ctx_.prompter.messageBox(message, MsgButtons::OK);
    });
    txtDelay_->installEventFilter(this);
    connect(cmdTestPage, &QPushButton::clicked, this, &FrmOptions::testPage);
}

void FrmOptions::buildInMail() {
    QWidget* p = addPage(QStringLiteral("Incoming Mail"), QStringLiteral("InMail"),
                         QStringLiteral("Internet Incoming Mail Properties"));
    auto* grid = new QGridLayout(p);
    lstAccounts_ = new QListWidget(p);
    lstAccounts_->setObjectName(QStringLiteral("lstAccounts"));
    grid->addWidget(lstAccounts_, 0, 0, 4, 1);
    auto* cmdNew = button(p, "cmdNewAccount", "New");
    auto* cmdEdit = button(p, "cmdEditAccount", "Edit");
    auto* cmdDelete = button(p, "cmdDeleteAccount", "Delete");
    grid->addWidget(cmdNew, 0, 1);
    grid->addWidget(cmdEdit, 1, 1);
    grid->addWidget(cmdDelete, 2, 1);
    auto* summary = new QFormLayout;
    auto value = [&](const char* name, const char* caption) {
        auto* l = new QLabel(p);
        l->setObjectName(QString::fromLatin1(name));
        summary->addRow(QString::fromLatin1(caption), l);
        return l;
    };
    lblServer_ = value("lblServer", "POP3 Server:");
    lblPort_ = value("lblPort", "Mail Port:");
    lblUser_ = value("lblUser", "UserName:");
    lblCheck_ = value("lblCheck", "Check Mail?:");
    grid->addLayout(summary, 4, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Enter up to 3 POP3 accounts."), p), 5, 0, 1, 2);

    connect(cmdNew, &QPushButton::clicked, this, &FrmOptions::newAccount);
    connect(cmdEdit, &QPushButton::clicked, this, &FrmOptions::editAccount);
    connect(cmdDelete, &QPushButton::clicked, this, &FrmOptions::deleteAccount);
    connect(lstAccounts_, &QListWidget::currentRowChanged, this, &FrmOptions::showAccountSummary);
    connect(lstAccounts_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        const int row = lstAccounts_->row(item);
        if (row >= 0 && row < accounts_.Count())
            accounts_.Item(row + 1).SetCheckMail(item->checkState() == Qt::Checked);
        showAccountSummary();
    });
}

void FrmOptions::buildOutMail() {
    QWidget* p = addPage(QStringLiteral("Outgoing Mail"), QStringLiteral("OutMail"),
                         QStringLiteral("Internet Outgoing Mail Properties"));
    auto* form = new QFormLayout(p);
    txtDomain_ = lineEdit(p, "txtDomain");
    form->addRow(QStringLiteral("Domain Name:"), txtDomain_);
    txtSMTPName_ = lineEdit(p, "txtSMTPName");
    form->addRow(QStringLiteral("SMTP Host Name:"), txtSMTPName_);
    txtSMTPAddress_ = lineEdit(p, "txtSMTPAddress", "IP address of SMTP server");
    form->addRow(QStringLiteral("SMTP Host Address:"), txtSMTPAddress_);
    txtSMTPPort_ = lineEdit(p, "txtSMTPPort");
    txtSMTPPort_->setText(QStringLiteral("25"));
    form->addRow(QStringLiteral("SMTP Port:"), txtSMTPPort_);
    cmbSMTPSecurity_ = new QComboBox(p);
    cmbSMTPSecurity_->setObjectName(QStringLiteral("cmbSMTPSecurity"));
    cmbSMTPSecurity_->addItems(SecurityTexts());
    cmbSMTPSecurity_->setToolTip(QStringLiteral("automatic: TLS on port 465, elsewhere STARTTLS when the server offers it"));
    form->addRow(QStringLiteral("Security:"), cmbSMTPSecurity_);
    txtSMTPUser_ = lineEdit(p, "txtSMTPUser", "Leave empty when the server needs no login");
    form->addRow(QStringLiteral("SMTP User Name:"), txtSMTPUser_);
    txtSMTPPassword_ = lineEdit(p, "txtSMTPPassword");
    txtSMTPPassword_->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("SMTP Password:"), txtSMTPPassword_);
    txtSMTPPasswordCommand_ = lineEdit(p, "txtSMTPPasswordCommand",
                                       "Used when the password is empty: a program whose first output line is the password");
    form->addRow(QStringLiteral("Password Command:"), txtSMTPPasswordCommand_);
    txtCAFile_ = lineEdit(p, "txtCAFile", "Certificates (PEM) trusted besides the system's");
    form->addRow(QStringLiteral("Extra CA File:"), txtCAFile_);
}

void FrmOptions::buildSchedule() {
    QWidget* p = addPage(QStringLiteral("Schedule"), QStringLiteral("Schedule"), QStringLiteral("Email Notification Schedule"));
    auto* layout = new QVBoxLayout(p);
    auto* every = new QHBoxLayout;
    txtFrequency_ = lineEdit(p, "txtFrequency");
    txtFrequency_->setText(QStringLiteral("60"));
    txtFrequency_->setMaximumWidth(60);
    every->addWidget(new QLabel(QStringLiteral("Check mail every"), p));
    every->addWidget(txtFrequency_);
    every->addWidget(new QLabel(QStringLiteral("minutes"), p));
    every->addStretch();
    layout->addLayout(every);
    auto* times = new QFormLayout;
    txtStartTime_ = lineEdit(p, "txtStartTime");
    txtStartTime_->setText(QStringLiteral("8:00 am"));
    times->addRow(QStringLiteral("Start Time"), txtStartTime_);
    txtStopTime_ = lineEdit(p, "txtStopTime");
    txtStopTime_->setText(QStringLiteral("5:00 pm"));
    times->addRow(QStringLiteral("Stop Time"), txtStopTime_);
    layout->addLayout(times);
    // Monday first, as people read a week.
    for (int day : {2, 3, 4, 5, 6, 7, 1}) {
        chkDay_[day] = checkBox(p, "", kDayNames[day]);
        chkDay_[day]->setObjectName(QStringLiteral("chk") + QString::fromLatin1(kDayNames[day]));
        layout->addWidget(chkDay_[day]);
    }
    layout->addStretch();
}

void FrmOptions::buildRemote() {
    QWidget* p = addPage(QStringLiteral("Remote Control"), QStringLiteral("Remote"), QStringLiteral("Remote Control Properties"));
    auto* form = new QFormLayout(p);
    chkRemote_ = checkBox(p, "chkRemote", "Enable Remote Control Commands");
    form->addRow(chkRemote_);
    txtRemotePassword_ = lineEdit(p, "txtRemotePassword");
    form->addRow(QStringLiteral("Remote Command Password"), txtRemotePassword_);
}

void FrmOptions::buildSpam() {
    QWidget* p = addPage(QStringLiteral("Spam Filter"), QStringLiteral("spam"), QString());
    auto* grid = new QGridLayout(p);
    lstFilters_ = new QListWidget(p);
    lstFilters_->setObjectName(QStringLiteral("lstFilters"));
    grid->addWidget(lstFilters_, 0, 0, 4, 1);
    auto* cmdNew = button(p, "cmdNewFilter", "New");
    auto* cmdEdit = button(p, "cmdEditFilter", "Edit");
    auto* cmdRemove = button(p, "cmdRemoveFilter", "Remove");
    grid->addWidget(cmdNew, 0, 1);
    grid->addWidget(cmdEdit, 1, 1);
    grid->addWidget(cmdRemove, 2, 1);
    connect(cmdNew, &QPushButton::clicked, this, &FrmOptions::newFilter);
    connect(cmdEdit, &QPushButton::clicked, this, &FrmOptions::editFilter);
    connect(cmdRemove, &QPushButton::clicked, this, &FrmOptions::removeFilter);
    connect(lstFilters_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        const int row = lstFilters_->row(item);
        if (CFilter* rule = filters_.Item(row + 1))
            rule->SetEnabled(item->checkState() == Qt::Checked);
    });
}

void FrmOptions::showFields(const OptionsFields& f) {
    txtStartupFile_->setText(f.startupFile);
    txtEmailClient_->setText(f.emailClient);
    chkSound_->setChecked(f.sound);
    txtSoundFile_->setText(f.soundFile);
    txtMailSize_->setText(f.mailSize);
    chkDownload_->setChecked(f.download);
    chkPageHeaders_->setChecked(f.pageHeaders);
    chkPageBody_->setChecked(f.pageBody);
    chkPagePriority_->setChecked(f.pagePriority);
    txtMaxPages_->setText(f.maxPages);
    chkShowStatus_->setChecked(f.showStatus);
    chkTray_->setChecked(f.tray);
    chkUpdates_->setChecked(f.checkUpdates);

    optConnection_->button(f.connectionType)->setChecked(true);
    cmbDialUp_->addItems(options::DialUpEntries(ctx_.dialup));
    selectText(cmbDialUp_, f.dialEntry);
    txtUserID_->setText(f.dialUser);
    txtDialPassword_->setText(f.dialPassword);
    txtTimeout_->setText(f.dialTimeout);
    txtRetries_->setText(f.dialRetries);
    txtExternalDialer_->setText(f.externalDialer);
    chkProxy_->setChecked(f.useProxy);
    txtProxyName_->setText(f.proxyName);
    txtProxyAddress_->setText(f.proxyAddress);
    txtProxyPort_->setText(f.proxyPort);

    for (int i = 1; i <= ctx_.services.Count(); ++i)
        if (!ctx_.services.KeyAt(i).isEmpty() && cmbService_->findText(ctx_.services.KeyAt(i)) < 0)
            cmbService_->addItem(ctx_.services.KeyAt(i));
    selectText(cmbService_, f.serviceName);
    txtServicePhone_->setText(f.servicePhone);
    txtTerminalPassword_->setText(f.terminalPassword);
    selectText(cmbBaud_, f.baud);
    selectText(cmbParity_, f.parity);
    selectText(cmbDataBits_, f.dataBits);
    selectText(cmbStopBits_, f.stopBits);

    txtUserName_->setText(f.userName);
    txtMaxPageLength_->setText(f.maxPageLength);
    optPagerType_->button(std::clamp(f.pagerType, 0, 2))->setChecked(true);
    txtPagerID_->setText(f.pagerId);
    txtPagerEmail_->setText(f.pagerEmail);
    txtPagerFrom_->setText(f.pagerFrom);
    txtNumericPhone_->setText(f.numericPhone);
    txtPrefix_->setText(f.numericPrefix);
    txtDelay_->setText(f.numericDelay);

    txtDomain_->setText(f.domain);
    txtSMTPName_->setText(f.smtpName);
    txtSMTPAddress_->setText(f.smtpAddress);
    txtSMTPPort_->setText(f.smtpPort);
    selectText(cmbSMTPSecurity_, f.smtpSecurity);
    txtSMTPUser_->setText(f.smtpUser);
    txtSMTPPassword_->setText(f.smtpPassword);
    txtSMTPPasswordCommand_->setText(f.smtpPasswordCommand);
    txtCAFile_->setText(f.caFile);
    popSecurity_ = f.popSecurity;

    txtFrequency_->setText(f.frequency);
    txtStartTime_->setText(f.startTime);
    txtStopTime_->setText(f.stopTime);
    for (int day = 1; day <= 7; ++day)
        chkDay_[day]->setChecked(f.weekdays[static_cast<std::size_t>(day)]);

    chkRemote_->setChecked(f.remoteEnabled);
    txtRemotePassword_->setText(f.remotePassword);
}

OptionsFields FrmOptions::Fields() const {
    OptionsFields f;
    f.startupFile = txtStartupFile_->text();
    f.emailClient = txtEmailClient_->text();
    f.sound = chkSound_->isChecked();
    f.soundFile = txtSoundFile_->text();
    f.mailSize = txtMailSize_->text();
    f.download = chkDownload_->isChecked();
    f.pageHeaders = chkPageHeaders_->isChecked();
    f.pageBody = chkPageBody_->isChecked();
    f.pagePriority = chkPagePriority_->isChecked();
    f.maxPages = txtMaxPages_->text();
    f.showStatus = chkShowStatus_->isChecked();
    f.tray = chkTray_->isChecked();
    f.checkUpdates = chkUpdates_->isChecked();
    f.connectionType = std::max(0, optConnection_->checkedId());
    f.dialEntry = cmbDialUp_->currentText();
    f.dialUser = txtUserID_->text();
    f.dialPassword = txtDialPassword_->text();
    f.dialTimeout = txtTimeout_->text();
    f.dialRetries = txtRetries_->text();
    f.externalDialer = txtExternalDialer_->text();
    f.useProxy = chkProxy_->isChecked();
    f.proxyName = txtProxyName_->text();
    f.proxyAddress = txtProxyAddress_->text();
    f.proxyPort = txtProxyPort_->text();
    f.serviceName = cmbService_->currentText();
    f.servicePhone = txtServicePhone_->text();
    f.terminalPassword = txtTerminalPassword_->text();
    f.baud = cmbBaud_->currentText();
    f.parity = cmbParity_->currentText();
    f.dataBits = cmbDataBits_->currentText();
    f.stopBits = cmbStopBits_->currentText();
    f.userName = txtUserName_->text();
    f.maxPageLength = txtMaxPageLength_->text();
    f.pagerType = std::max(0, optPagerType_->checkedId());
    f.pagerId = txtPagerID_->text();
    f.pagerEmail = txtPagerEmail_->text();
    f.pagerFrom = txtPagerFrom_->text();
    f.numericPhone = txtNumericPhone_->text();
    f.numericPrefix = txtPrefix_->text();
    f.numericDelay = txtDelay_->text();
    f.domain = txtDomain_->text();
    f.smtpName = txtSMTPName_->text();
    f.smtpAddress = txtSMTPAddress_->text();
    f.smtpPort = txtSMTPPort_->text();
    f.smtpSecurity = cmbSMTPSecurity_->currentText();
    f.smtpUser = txtSMTPUser_->text();
    f.smtpPassword = txtSMTPPassword_->text();
    f.smtpPasswordCommand = txtSMTPPasswordCommand_->text();
    f.caFile = txtCAFile_->text();
    f.popSecurity = popSecurity_;
    f.frequency = txtFrequency_->text();
    f.startTime = txtStartTime_->text();
    f.stopTime = txtStopTime_->text();
    for (int day = 1; day <= 7; ++day)
        f.weekdays[static_cast<std::size_t>(day)] = chkDay_[day]->isChecked();
    f.remoteEnabled = chkRemote_->isChecked();
    f.remotePassword = txtRemotePassword_->text();
    return f;
}

void FrmOptions::applyRules() {
    const bool download = chkDownload_->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{txtMailSize_, lblIgnore_, lblKBytes_, chkPageHeaders_, chkPagePriority_})
        w->setEnabled(download);
    const bool headers = download && chkPageHeaders_->isChecked();
    chkPageBody_->setEnabled(headers);
    chkPagePriority_->setEnabled(headers);
    fraProxy_->setEnabled(chkProxy_->isChecked());
    txtSoundFile_->setEnabled(chkSound_->isChecked());
    cmdBrowseSound_->setEnabled(chkSound_->isChecked());
    const int type = optPagerType_->checkedId();
    fraAlpha_->setEnabled(type == PagerAlphaDialUp);
    fraSMTP_->setEnabled(type == PagerAlphaSMTP);
    fraNumeric_->setEnabled(type == PagerNumeric);
    const int conn = optConnection_->checkedId();
    fraDialUp_->setEnabled(conn == ConnDialUp);
    cmdTestConnection_->setEnabled(conn == ConnDialUp);
    fraExternal_->setEnabled(conn == ConnExternalDialer);
}

bool FrmOptions::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        if (watched == txtDelay_) {
            QString text = txtDelay_->text();
            options::CheckDelayOnLeave(text);
            txtDelay_->setText(text);
        } else if (watched == txtTimeout_) {
            QString text = txtTimeout_->text();
            options::CheckTimeoutOnLeave(text);
            txtTimeout_->setText(text);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FrmOptions::fillAccounts() {
    const QSignalBlocker block(lstAccounts_);
    lstAccounts_->clear();
    for (const CPOPAccount& a : accounts_) {
        auto* item = new QListWidgetItem(a.Name(), lstAccounts_);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(a.CheckMail() ? Qt::Checked : Qt::Unchecked);
    }
    if (lstAccounts_->count() > 0)
        lstAccounts_->setCurrentRow(0);
    showAccountSummary();
}

void FrmOptions::fillFilters() {
    const QSignalBlocker block(lstFilters_);
    lstFilters_->clear();
    for (const CFilter& rule : filters_) {
        auto* item = new QListWidgetItem(rule.Name(), lstFilters_);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(rule.Enabled() ? Qt::Checked : Qt::Unchecked);
    }
}

void FrmOptions::showAccountSummary() {
    const int row = lstAccounts_->currentRow();
    if (row < 0 || row >= accounts_.Count()) {
        for (QLabel* l : {lblServer_, lblPort_, lblUser_, lblCheck_})
            l->clear();
        return;
    }
    const CPOPAccount& a = accounts_.Item(row + 1);
    lblServer_->setText(a.Server());
    lblPort_->setText(QString::number(a.MailPort()));
    lblUser_->setText(a.Username());
    lblCheck_->setText(a.CheckMail() ? QStringLiteral("Yes") : QStringLiteral("No"));
}

void FrmOptions::newAccount() {
    const int limit = ctx_.settings.maxPOPAccounts > 0 ? ctx_.settings.maxPOPAccounts : 3;
    if (accounts_.Count() >= limit) {
        ctx_.prompter.messageBox(options::kNoMoreAccounts, MsgButtons::OK);
        return;
    }
    FrmPOP3 w(ctx_.prompter, this);
    w.setWindowTitle(QStringLiteral("Add New POP3 Account"));
    w.txtPOPPort()->setText(QStringLiteral("110"));
    w.exec();
    if (w.Cancelled())
        return;
    accounts_.Add(w.txtAccount()->text(), w.txtPOPServer()->text(),
                  static_cast<std::int16_t>(w.txtPOPPort()->text().trimmed().toInt()), w.txtPOPUserName()->text(),
                  w.txtPOPPassword()->text(), true);
    popSecurity_.insert(w.txtAccount()->text(), w.cmbSecurity()->currentText());
    fillAccounts();
    lstAccounts_->setCurrentRow(accounts_.Count() - 1);
}

void FrmOptions::editAccount() {
    const int row = lstAccounts_->currentRow();
    if (row < 0 || row >= accounts_.Count())
        return;
    CPOPAccount& a = accounts_.Item(row + 1);
    FrmPOP3 w(ctx_.prompter, this);
    w.setWindowTitle(QStringLiteral("Edit POP3 Account"));
    w.txtAccount()->setText(a.Name());
    w.txtPOPServer()->setText(a.Server());
    w.txtPOPUserName()->setText(a.Username());
    w.txtPOPPassword()->setText(a.Password());
    w.txtPOPPort()->setText(QString::number(a.MailPort()));
    selectText(w.cmbSecurity(), popSecurity_.value(a.Name(), SecurityText(Security::Automatic)));
    w.exec();
    if (w.Cancelled())
        return;
    popSecurity_.remove(a.Name());
    popSecurity_.insert(w.txtAccount()->text(), w.cmbSecurity()->currentText());
    a.SetName(w.txtAccount()->text());
    a.SetServer(w.txtPOPServer()->text());
    a.SetUsername(w.txtPOPUserName()->text());
    a.SetPassword(w.txtPOPPassword()->text());
    a.SetMailPort(static_cast<std::int16_t>(w.txtPOPPort()->text().trimmed().toInt()));
    fillAccounts();
    lstAccounts_->setCurrentRow(row);
}

void FrmOptions::deleteAccount() {
    if (lstAccounts_->count() < 2) {
        ctx_.prompter.messageBox(options::kLastAccount, MsgButtons::OK);
        return;
    }
    const int row = lstAccounts_->currentRow();
    if (row < 0 || row >= accounts_.Count())
        return;
    accounts_.Remove(row + 1);
    fillAccounts();
}

void FrmOptions::newFilter() {
    FrmFilter w(ctx_.prompter, this);
    w.setWindowTitle(QStringLiteral("Add new mail filter"));
    w.txtName()->setText(QStringLiteral("Undefined"));
    w.exec();
    if (w.Cancelled())
        return;
    CFilter rule;
    w.ReadInto(rule);
    filters_.Add(rule.Name(), rule.FilterObject(), rule.FilterAction(), rule.FilterText(), true);
    fillFilters();
}

void FrmOptions::editFilter() {
    CFilter* rule = filters_.Item(lstFilters_->currentRow() + 1);
    if (!rule)
        return;
    FrmFilter w(ctx_.prompter, this);
    w.setWindowTitle(QStringLiteral("Edit mail filter"));
    w.Show(*rule);
    w.exec();
    if (w.Cancelled())
        return;
    w.ReadInto(*rule);
    const int row = lstFilters_->currentRow();
    fillFilters();
    lstFilters_->setCurrentRow(row);
}

void FrmOptions::removeFilter() {
    const int row = lstFilters_->currentRow();
    if (row < 0 || row >= filters_.Count())
        return;
    filters_.Remove(row + 1);
    fillFilters();
}

void FrmOptions::browse(QLineEdit* field, const QString& title, const QString& filter) {
    const QString dir = field->text().isEmpty() ? QString() : QFileInfo(field->text()).absolutePath();
    const QString chosen = ctx_.prompter.openFileName(title, dir, filter);
    if (!chosen.isEmpty())
        field->setText(chosen);
}

void FrmOptions::dialUpEntryChosen() {
    if (optConnection_->checkedId() != ConnDialUp || !ctx_.dialup)
        return;
    try {
        const DialupControl::Credentials c = ctx_.dialup->EntryCredentials(cmbDialUp_->currentText());
        txtUserID_->setText(c.user);
        txtDialPassword_->setText(c.password);
    } catch (const TessalyError&) {
        // The entry's stored credentials cannot be read here: the fields stay.
    }
}

void FrmOptions::testConnection() {
    options::TestConnection(ctx_, cmbDialUp_->currentText(), txtUserID_->text(), txtDialPassword_->text(),
                            txtTimeout_->text());
}

void FrmOptions::testPage() {
    manualpage::TestPager t;
    t.service = cmbService_->currentText();
    t.type = static_cast<PagerType>(std::max(0, optPagerType_->checkedId()));
    t.pagerId = txtPagerID_->text();
    t.emailAddress = txtPagerEmail_->text();
    t.fromAddress = txtPagerFrom_->text();
    t.numericPhone = txtNumericPhone_->text();
    manualpage::SendTestPage(pagesCtx_, t);
}

void FrmOptions::openModem() {
    FrmModem w(modemCtx_, this);
    w.exec();
}

void FrmOptions::saveClicked() {
    OptionsFields f = Fields();
    const bool saved = options::Save(ctx_, f, accounts_, filters_);
    // Save may have corrected some fields.
    txtFrequency_->setText(f.frequency);
    txtSMTPPort_->setText(f.smtpPort);
    txtProxyPort_->setText(f.proxyPort);
    txtMaxPageLength_->setText(f.maxPageLength);
    if (saved)
        accept();
}

} // namespace tessaly
