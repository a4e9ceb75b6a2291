#pragma once
// The "About Tessaly" window: the program's name, version, web address and
// licence.

#include <QDialog>
#include <functional>

namespace tessaly {

class FrmAbout : public QDialog {
    Q_OBJECT
public:
    // `openUrl` opens the web address when its link is clicked.
    FrmAbout(const QString& webAddress, std::function<void(const QString&)> openUrl, QWidget* parent = nullptr);
};

} // namespace tessaly
