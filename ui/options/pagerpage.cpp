#include "ui/options/pagerpage.h"

#include "platform/prompter.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace tessaly {

using namespace optionsui;

namespace {

// In the order of their ids, three to a row: the classic types, then the
// network ones.
constexpr PagerType kPagerTypes[] = {PagerAlphaDialUp, PagerAlphaSMTP, PagerNumeric,
                                     PagerWCTP,        PagerSNPP,      PagerAlphaTCP};
constexpr int kTypesPerRow = 3;

struct TypeChoice {
    const char* caption;
    const char* tip;
};
TypeChoice choiceOf(PagerType type) {
    switch (type) {
    case PagerAlphaDialUp:
        return {"Alphanumeric (Direct)", "messages are sent to pager via direct dial to pager service"};
    case PagerAlphaSMTP: return {"Alphanumeric (SMTP)", "message is sent to pager via email"};
    case PagerNumeric: return {"Numeric", "messages are numeric only via touch-tone phone"};
    case PagerWCTP: return {"Alphanumeric (WCTP)", "messages go to the carrier's WCTP gateway over the internet"};
    case PagerSNPP: return {"Alphanumeric (SNPP)", "messages go to the carrier's SNPP server over the internet"};
    case PagerAlphaTCP:
        return {"Alphanumeric (TCP)", "messages go to the paging terminal at a network address, without dialing"};
    }
    return {"", nullptr};
}

} // namespace

PagerPage::PagerPage(Prompter& prompter, std::function<void()> testPage)
    : OptionsPage("Pager", "Pager", "Pager Properties"), prompter_(prompter) {
    auto* layout = new QVBoxLayout(this);
    auto* top = new QFormLayout;
    top->addRow(QStringLiteral("User Name:"),
                bindText(lineEdit(this, "txtUserName", "name for this pager"), &OptionsFields::userName));
    auto* txtMaxPageLength = bindText(lineEdit(this, "txtMaxPageLength", "maximum number of characters per page"),
                                      &OptionsFields::maxPageLength);
    top->addRow(QStringLiteral("Max Page Length:"), txtMaxPageLength);
    layout->addLayout(top);
    buildTypes(layout);

    auto* alpha = frame(this, "fraAlpha", "Alphanumeric");
    fraAlpha_ = alpha;
    auto* alphaForm = new QFormLayout(alpha);
    auto* txtPagerID = bindText(lineEdit(alpha, "txtPagerID"), &OptionsFields::pagerId);
    alphaForm->addRow(QStringLiteral("Pager Identifier:"), txtPagerID);
    layout->addWidget(alpha);

    auto* smtp = frame(this, "fraSMTP", "SMTP");
    fraSMTP_ = smtp;
    auto* smtpForm = new QFormLayout(smtp);
    smtpForm->addRow(QStringLiteral("Email Address:"),
                     bindText(lineEdit(smtp, "txtPagerEmail"), &OptionsFields::pagerEmail));
    auto* txtPagerFrom = bindText(lineEdit(smtp, "txtPagerFrom"), &OptionsFields::pagerFrom);
    txtPagerFrom->setPlaceholderText(QStringLiteral("yourname@yourprovider.com"));
    smtpForm->addRow(QStringLiteral("From:"), txtPagerFrom);
    layout->addWidget(smtp);
    buildNumeric(layout);

    // What becomes of a page this pager does not deliver, beside the test page.
    auto* escalation = frame(this, "fraEscalation", "When a page is not delivered");
    auto* grid = new QGridLayout(escalation);
    grid->addWidget(new QLabel(QStringLiteral("Fallback Pagers:"), escalation), 0, 0);
    grid->addWidget(bindText(lineEdit(escalation, "txtFallback",
                                      "pagers tried in order when this one does not deliver a page: numbers or "
                                      "user names, separated by commas"),
                             &OptionsFields::fallback),
                    0, 1, 1, 2);
    auto* cmdTestPage = button(escalation, "cmdTestPage", "Test Page");
    grid->addWidget(cmdTestPage, 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("Failure Notice To:"), escalation), 1, 0);
    grid->addWidget(
        bindText(lineEdit(escalation, "txtNoticeAddress", "mail address told when no pager delivers a page"),
                 &OptionsFields::noticeAddress),
        1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Daily Test At:"), escalation), 1, 2);
    auto* txtProofOfLife = bindText(
        lineEdit(escalation, "txtProofOfLife", "time of the daily test page through every pager (HH:MM); empty: none"),
        &OptionsFields::proofOfLife);
    txtProofOfLife->setPlaceholderText(QStringLiteral("off"));
    txtProofOfLife->setMaximumWidth(60);
    grid->addWidget(txtProofOfLife, 1, 3);
    layout->addWidget(escalation);
    layout->addStretch();

    checkWhileTyping(txtMaxPageLength, options::CheckMaxPageLength);
    checkWhileTyping(txtPagerID, options::CheckPagerId);
    connect(cmdTestPage, &QPushButton::clicked, this, std::move(testPage));
}

void PagerPage::buildTypes(QVBoxLayout* layout) {
    auto* types = frame(this, "fraPagerType", "Pager Type");
    auto* typeGrid = new QGridLayout(types);
    optPagerType_ = bindRadio(new QButtonGroup(this), &OptionsFields::pagerType);
    int place = 0;
    for (PagerType type : kPagerTypes) {
        const TypeChoice choice = choiceOf(type);
        const QString name = QStringLiteral("optPagerType%1").arg(static_cast<int>(type));
        typeGrid->addWidget(radioButton(types, optPagerType_, type, name, choice.caption, choice.tip),
                            place / kTypesPerRow, place % kTypesPerRow);
        ++place;
    }
    layout->addWidget(types);
    rulesFollow(optPagerType_);
}

void PagerPage::buildNumeric(QVBoxLayout* layout) {
    auto* numeric = frame(this, "fraNumeric", "Numeric");
    fraNumeric_ = numeric;
    auto* numGrid = new QGridLayout(numeric);
    numGrid->addWidget(new QLabel(QStringLiteral("Numeric Phone:"), numeric), 0, 0);
    numGrid->addWidget(bindText(lineEdit(numeric, "txtNumericPhone"), &OptionsFields::numericPhone), 0, 1, 1, 3);
    numGrid->addWidget(new QLabel(QStringLiteral("Message Prefix:"), numeric), 1, 0);
    numGrid->addWidget(bindText(lineEdit(numeric, "txtPrefix", "Numeric message prefix to indicate email"),
                                &OptionsFields::numericPrefix),
                       1, 1);
    auto* txtDelay = bindText(lineEdit(numeric, "txtDelay", "Delay after dialing pager before message is sent"),
                              &OptionsFields::numericDelay);
    txtDelay->setMaximumWidth(50);
    fixOnLeave(txtDelay, options::CheckDelayOnLeave);
    numGrid->addWidget(new QLabel(QStringLiteral("Delay after dial:"), numeric), 1, 2);
    auto* delayRow = new QHBoxLayout;
    delayRow->addWidget(txtDelay);
    delayRow->addWidget(new QLabel(QStringLiteral("Sec."), numeric));
    numGrid->addLayout(delayRow, 1, 3);
    layout->addWidget(numeric);
}

void PagerPage::checkWhileTyping(QLineEdit* edit, QString (*check)(QString&)) {
    connect(edit, &QLineEdit::textEdited, this, [this, edit, check] {
        QString text = edit->text();
        const QString message = check(text);
        if (message.isEmpty())
            return;
        edit->setText(text);
        prompter_.messageBox(message, MsgButtons::OK);
    });
}

QWidget* PagerPage::frameOf(PagerType type) const {
    switch (type) {
    case PagerAlphaDialUp: return fraAlpha_;
    case PagerAlphaSMTP: return fraSMTP_;
    case PagerNumeric: return fraNumeric_;
    case PagerWCTP:
    case PagerSNPP:
    case PagerAlphaTCP: return fraAlpha_;
    }
    return nullptr;
}

void PagerPage::applyRules() {
    // Several types share a frame: it is enabled when the chosen type uses it.
    const int checked = optPagerType_->checkedId();
    QWidget* inUse = nullptr;
    for (PagerType type : kPagerTypes)
        if (type == checked)
            inUse = frameOf(type);
    for (PagerType type : kPagerTypes)
        frameOf(type)->setEnabled(frameOf(type) == inUse);
}

} // namespace tessaly
