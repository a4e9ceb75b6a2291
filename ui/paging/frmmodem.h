#pragma once
// frmModem: the "Modem Settings" window. It shows the modem settings and
// the table of modem profiles; the four buttons go to features/options.
// Add, Del and the "Modem Type:" choice edit the window's copy of the
// table, which only Save stores.

#include "features/options/modemsettings.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace tessaly {

class FrmModem : public QDialog {
    Q_OBJECT
public:
    explicit FrmModem(ModemContext ctx, QWidget* parent = nullptr);

private:
    void addClicked();
    void deleteClicked();
    void saveClicked();

    // Shows the selected profile's command.
    void showSelected();

    ModemContext ctx_;
    modem::ProfileTable table_;
    QComboBox* cmbModem_ = nullptr;
    QLineEdit* txtPGRInitString_ = nullptr;
    QComboBox* cmbCommPort_ = nullptr;
    QComboBox* cmbFlow_ = nullptr;
    QComboBox* cmbDialType_ = nullptr;
    QComboBox* cmbVolume_ = nullptr;
    QComboBox* cmbSpeaker_ = nullptr;
    QLineEdit* txtRetries_ = nullptr;
    QLineEdit* txtSeconds_ = nullptr;
};

} // namespace tessaly
