#include "ui/options/modempage.h"

#include "ui/paging/frmmodem.h"

#include <QPushButton>
#include <QVBoxLayout>

namespace tessaly {

ModemPage::ModemPage(ModemContext modem)
    : OptionsPage("Modem", "Modem", "Non-Internet Modem Settings"), modem_(std::move(modem)) {
    auto* layout = new QVBoxLayout(this);
    auto* cmdModem = optionsui::button(this, "cmdModem", "Non-Internet Modem Properties");
    layout->addWidget(cmdModem, 0, Qt::AlignLeft);
    layout->addStretch();
    connect(cmdModem, &QPushButton::clicked, this, [this] {
        FrmModem w(modem_, this);
        w.exec();
    });
}

} // namespace tessaly
