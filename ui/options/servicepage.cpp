#include "ui/options/servicepage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>

namespace tessaly {

using namespace optionsui;

namespace {

// The named services, each once.
QStringList serviceNames(const ServiceList& services) {
    QStringList names;
    for (int i = 1; i <= services.Count(); ++i)
        if (!services.KeyAt(i).isEmpty() && !names.contains(services.KeyAt(i)))
            names << services.KeyAt(i);
    return names;
}

} // namespace

ServicePage::ServicePage(const ServiceList& services)
    : OptionsPage("Pager Service", "Paging", "Pager Service Properties") {
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Service Name"), bindChoice(comboBox(this, "cmbService"), &OptionsFields::serviceName,
                                                            [&services] { return serviceNames(services); }));
    form->addRow(QStringLiteral("PGR Service Phone No.:"),
                 bindText(lineEdit(this, "txtServicePhone", "Dialup number to your pager service"),
                          &OptionsFields::servicePhone));
    form->addRow(QStringLiteral("Terminal Password:"),
                 bindText(lineEdit(this, "txtTerminalPassword", "typically blank"), &OptionsFields::terminalPassword));
    form->addRow(QStringLiteral("Baud Rate"),
                 bindChoice(comboBox(this, "cmbBaud", options::BaudRates()), &OptionsFields::baud));
    form->addRow(QStringLiteral("Parity"),
                 bindChoice(comboBox(this, "cmbParity", options::Parities()), &OptionsFields::parity));
    form->addRow(QStringLiteral("Data Bits"),
                 bindChoice(comboBox(this, "cmbDataBits", options::DataBits()), &OptionsFields::dataBits));
    form->addRow(QStringLiteral("Stop Bits"),
                 bindChoice(comboBox(this, "cmbStopBits", options::StopBits()), &OptionsFields::stopBits));
    form->addRow(buildNetwork());
}

QWidget* ServicePage::buildNetwork() {
    auto* network = frame(this, "fraNetwork", "Network Service");
    auto* form = new QFormLayout(network);
    form->addRow(QStringLiteral("Address:"),
                 bindText(lineEdit(network, "txtAddress",
                                   "WCTP: the carrier's URL, such as https://wctp.example.com/wctp; "
                                   "SNPP or TCP terminal: host:port, such as snpp.example.com:444"),
                          &OptionsFields::serviceAddress));
    form->addRow(bindCheck(checkBox(network, "chkTls", "Use TLS",
                                    "SNPP and TCP terminal: speak TLS from the first byte (WCTP: use https)"),
                           &OptionsFields::serviceTls));
    form->addRow(QStringLiteral("Sender ID:"),
                 bindText(lineEdit(network, "txtSenderID", "WCTP: the account the carrier knows the gateway by"),
                          &OptionsFields::senderId));
    auto* txtSecurityCode = bindText(
        lineEdit(network, "txtSecurityCode", "WCTP: the security code; SNPP: the password sent with the pager ID"),
        &OptionsFields::securityCode);
    txtSecurityCode->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("Security Code:"), txtSecurityCode);
    form->addRow(bindCheck(checkBox(network, "chkReceipts", "Ask for delivery receipts",
                                    "WCTP: ask the carrier to tell when the page reached the pager"),
                           &OptionsFields::receipts));
    return network;
}

} // namespace tessaly
