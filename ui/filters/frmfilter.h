#pragma once
// frmFilter: the modal window in which one filter rule is entered or edited,
// read as a sentence: "Ignore if" <part> "of the message" <test> <text>.

#include "ui/common/frmeditbase.h"

class QComboBox;
class QLineEdit;

namespace tessaly {

class CFilter;

class FrmFilter : public FrmEditBase {
    Q_OBJECT
public:
    explicit FrmFilter(Prompter& prompter, QWidget* parent = nullptr);

    QLineEdit* txtName() const { return txtName_; }
    QComboBox* cmbField1() const { return cmbField1_; }
    QComboBox* cmbField2() const { return cmbField2_; }
    QLineEdit* txtString() const { return txtString_; }

    // Fills the fields from a rule, and writes them back into one.
    void Show(const CFilter& rule);
    void ReadInto(CFilter& rule) const;

protected:
    QString Problem() const override;

private:
    QLineEdit* txtName_;
    QComboBox* cmbField1_;
    QComboBox* cmbField2_;
    QLineEdit* txtString_;
};

} // namespace tessaly
