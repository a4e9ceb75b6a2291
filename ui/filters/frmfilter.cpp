#include "ui/filters/frmfilter.h"

#include "features/filters/cfilter.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tessaly {

FrmFilter::FrmFilter(Prompter& prompter, QWidget* parent) : FrmEditBase(prompter, parent) {
    setObjectName(QStringLiteral("frmFilter"));
    setWindowTitle(QStringLiteral("Filter Rules"));
    txtName_ = new QLineEdit(QStringLiteral("Undefined"), this);
    txtName_->setObjectName(QStringLiteral("txtName"));
    cmbField1_ = new QComboBox(this);
    cmbField1_->setObjectName(QStringLiteral("cmbField1"));
    cmbField1_->addItems(
        {QStringLiteral("Subject"), QStringLiteral("Sender"), QStringLiteral("Body"), QStringLiteral("to")});
    cmbField2_ = new QComboBox(this);
    cmbField2_->setObjectName(QStringLiteral("cmbField2"));
    cmbField2_->addItems(
        {QStringLiteral("contains"), QStringLiteral("doesn't contain"), QStringLiteral("is"), QStringLiteral("isn't")});
    txtString_ = new QLineEdit(this);
    txtString_->setObjectName(QStringLiteral("txtString"));

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Filter Name:"), this), 0, 0);
    grid->addWidget(txtName_, 0, 1, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Ignore if "), this), 1, 0);
    grid->addWidget(cmbField1_, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("of the message"), this), 1, 2);
    grid->addWidget(cmbField2_, 1, 3);
    grid->addWidget(txtString_, 2, 1, 1, 3);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(ButtonRow());
}

void FrmFilter::Show(const CFilter& rule) {
    txtName_->setText(rule.Name());
    cmbField1_->setCurrentIndex(std::clamp<int>(rule.FilterObject(), 0, 3));
    cmbField2_->setCurrentIndex(std::clamp<int>(rule.FilterAction(), 0, 3));
    txtString_->setText(rule.FilterText());
}

void FrmFilter::ReadInto(CFilter& rule) const {
    rule.SetName(txtName_->text());
    rule.SetFilterObject(static_cast<std::int16_t>(cmbField1_->currentIndex()));
    rule.SetFilterAction(static_cast<std::int16_t>(cmbField2_->currentIndex()));
    rule.SetFilterText(txtString_->text());
}

QString FrmFilter::Problem() const { return filterEntryProblem(txtName_->text(), txtString_->text()); }

} // namespace tessaly
