#pragma once
// frmIntro: the splash window shown for a moment at start.

#include <QDialog>

class QLabel;

namespace tessaly {

class FrmIntro : public QDialog {
    Q_OBJECT
public:
    explicit FrmIntro(const QString& versionText, QWidget* parent = nullptr);
    QLabel* VersionLabel() const { return lblVersion_; }

private:
    QLabel* lblVersion_;
};

} // namespace tessaly
