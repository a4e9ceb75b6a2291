#include "ui/paging/frmmodem.h"

#include "state/livesettings.h"

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace tessaly {

namespace {
QComboBox* comboBox(QWidget* parent, const char* name, const QStringList& items, int selected) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    c->addItems(items);
    c->setCurrentIndex(selected < c->count() ? selected : -1);
    return c;
}
QLineEdit* lineEdit(QWidget* parent, const char* name, const QString& text) {
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(QString::fromLatin1(name));
    return e;
}
QPushButton* button(QWidget* parent, const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}
} // namespace

FrmModem::FrmModem(ModemContext ctx, QWidget* parent)
    : QDialog(parent), ctx_(std::move(ctx)), table_(modem::ProfileTable::Of(ctx_.settings)) {
    setObjectName(QStringLiteral("frmModem"));
    setWindowTitle(QStringLiteral("Modem Settings"));
    setModal(true);
    const LiveSettings& s = ctx_.settings;

    auto* form = new QFormLayout;
    cmbModem_ = comboBox(this, "cmbModem", modem::ProfileNames(table_), table_.selected);
    form->addRow(QStringLiteral("Modem Type:"), cmbModem_);
    txtPGRInitString_ = lineEdit(this, "txtPGRInitString", table_.At(table_.selected).initString);
    form->addRow(QStringLiteral("Pager Init String:"), txtPGRInitString_);
    cmbCommPort_ = comboBox(this, "cmbCommPort", modem::Ports(), s.modemPortIndex);
    form->addRow(QStringLiteral("Comm Port:"), cmbCommPort_);
    cmbFlow_ = comboBox(this, "cmbFlow", modem::FlowControls(), s.flowControlIndex);
    form->addRow(QStringLiteral("Flow Control:"), cmbFlow_);
    cmbDialType_ = comboBox(this, "cmbDialType", modem::DialTypes(), s.dialTypeIndex);
    form->addRow(QStringLiteral("Dial Type:"), cmbDialType_);
    cmbVolume_ = comboBox(this, "cmbVolume", modem::Volumes(), s.speakerVolumeIndex);
    form->addRow(QStringLiteral("Speaker Volume:"), cmbVolume_);
    cmbSpeaker_ = comboBox(this, "cmbSpeaker", modem::SpeakerModes(), s.speakerModeIndex);
    form->addRow(QStringLiteral("Speaker Control:"), cmbSpeaker_);
    txtRetries_ = lineEdit(this, "txtRetries", QString::number(s.retries));
    form->addRow(QStringLiteral("No. of Retries:"), txtRetries_);
    txtSeconds_ = lineEdit(this, "txtSeconds", QString::number(s.retryWait));
    form->addRow(QStringLiteral("Seconds between retries:"), txtSeconds_);

    auto* buttons = new QHBoxLayout;
    auto* cmdAdd = button(this, "cmdAdd", "Add");
    auto* cmdDelete = button(this, "cmdDelete", "Del");
    auto* cmdSave = button(this, "cmdSave", "Save");
    auto* cmdCancel = button(this, "cmdCancel", "Cancel");
    for (QPushButton* b : {cmdAdd, cmdDelete, cmdSave, cmdCancel})
        buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);

    connect(cmbModem_, &QComboBox::activated, this, [this](int index) {
        if (index < 0)
            return;
        table_.selected = index;
        showSelected();
    });
    connect(cmdAdd, &QPushButton::clicked, this, &FrmModem::addClicked);
    connect(cmdDelete, &QPushButton::clicked, this, &FrmModem::deleteClicked);
    connect(cmdSave, &QPushButton::clicked, this, &FrmModem::saveClicked);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    adjustSize();
    if (const QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void FrmModem::showSelected() { txtPGRInitString_->setText(table_.At(table_.selected).initString); }

void FrmModem::addClicked() {
    const std::optional<int> slot = modem::Add(ctx_, table_, txtPGRInitString_->text());
    if (!slot)
        return;
    cmbModem_->addItem(table_.profiles[static_cast<std::size_t>(*slot)].name);
    cmbModem_->setCurrentIndex(*slot);
}

void FrmModem::deleteClicked() {
    const int index = cmbModem_->currentIndex();
    switch (modem::Delete(ctx_, table_, index)) {
    case modem::DeleteOutcome::Declined: return;
    case modem::DeleteOutcome::NoneChosen: QApplication::beep(); return;
    case modem::DeleteOutcome::Kept: break;
    case modem::DeleteOutcome::Deleted: cmbModem_->removeItem(index); break;
    }
    // The first profile is the selected one now, and the field shows its
    // command: what Save would store into it.
    cmbModem_->setCurrentIndex(0);
    showSelected();
}

void FrmModem::saveClicked() {
    modem::Fields f;
    f.port = cmbCommPort_->currentIndex();
    f.flow = cmbFlow_->currentIndex();
    f.dialType = cmbDialType_->currentIndex();
    f.volume = cmbVolume_->currentIndex();
    f.speaker = cmbSpeaker_->currentIndex();
    f.retries = txtRetries_->text();
    f.seconds = txtSeconds_->text();
    f.initString = txtPGRInitString_->text();
    if (modem::Save(ctx_, table_, f))
        accept();
}

} // namespace tessaly
