#include "ui/options/servicepage.h"

#include <QComboBox>
#include <QFormLayout>
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
}

} // namespace tessaly
