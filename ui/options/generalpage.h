#pragma once
// The "General" page: the startup file, the mail client, the new-mail sound,
// what is downloaded and paged, the status window, the tray and updates.

#include "ui/options/optionspage.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tessaly {

class Prompter;

class GeneralPage : public OptionsPage {
public:
    explicit GeneralPage(Prompter& prompter);
    void applyRules() override;

private:
    // A file chosen in the file dialog lands in `field`; a cancelled one changes nothing.
    void browse(QLineEdit* field, const QString& title, const QString& filter);

    Prompter& prompter_;
    QCheckBox* chkSound_ = nullptr;
    QLineEdit* txtSoundFile_ = nullptr;
    QPushButton* cmdBrowseSound_ = nullptr;
    QLabel* lblIgnore_ = nullptr;
    QLineEdit* txtMailSize_ = nullptr;
    QLabel* lblKBytes_ = nullptr;
    QCheckBox* chkDownload_ = nullptr;
    QCheckBox* chkPageHeaders_ = nullptr;
    QCheckBox* chkPageBody_ = nullptr;
    QCheckBox* chkPagePriority_ = nullptr;
};

} // namespace tessaly
