#pragma once
// The "Internet Connection" page: dial-up, direct or an external dialer;
// the dial-up entry with its user, password, time-out and retries; the proxy
// server.

#include "ui/options/optionspage.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace tessaly {

class InternetPage : public OptionsPage {
public:
    // `ctx` lists the dial-up entries and dials for "Test Connection".
    explicit InternetPage(OptionsContext& ctx);
    void applyRules() override;

private:
    void buildDialUp(QVBoxLayout* layout);
    void buildProxy(QVBoxLayout* layout);
    // Choosing an entry shows its stored user and password.
    void dialUpEntryChosen();
    void testConnection();

    OptionsContext& ctx_;
    QButtonGroup* optConnection_ = nullptr;
    QWidget* fraDialUp_ = nullptr;
    QComboBox* cmbDialUp_ = nullptr;
    QLineEdit* txtUserID_ = nullptr;
    QLineEdit* txtDialPassword_ = nullptr;
    QLineEdit* txtTimeout_ = nullptr;
    QPushButton* cmdTestConnection_ = nullptr;
    QWidget* fraExternal_ = nullptr;
    QCheckBox* chkProxy_ = nullptr;
    QWidget* fraProxy_ = nullptr;
};

} // namespace tessaly
