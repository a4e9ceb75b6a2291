#include "ui/options/spampage.h"

#include "ui/filters/frmfilter.h"

#include <QGridLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace tessaly {

using namespace optionsui;

SpamPage::SpamPage(Prompter& prompter, Filters& filters)
    : OptionsPage("Spam Filter", "spam", ""), prompter_(prompter), filters_(filters) {
    auto* grid = new QGridLayout(this);
    lstFilters_ = listWithButtons(
        this, grid, "lstFilters", {"cmdNewFilter", "cmdEditFilter", "cmdRemoveFilter", "Remove"},
        [this] { newFilter(); }, [this] { editFilter(); }, [this] { removeFilter(); });
    connect(lstFilters_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        const int row = lstFilters_->row(item);
        if (CFilter* rule = filters_.Item(row + 1))
            rule->SetEnabled(item->checkState() == Qt::Checked);
    });
    fillFilters();
}

void SpamPage::fillFilters() {
    const QSignalBlocker block(lstFilters_);
    lstFilters_->clear();
    for (const CFilter& rule : filters_) {
        auto* item = new QListWidgetItem(rule.Name(), lstFilters_);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(rule.Enabled() ? Qt::Checked : Qt::Unchecked);
    }
}

void SpamPage::newFilter() {
    FrmFilter w(prompter_, this);
    w.setWindowTitle(QStringLiteral("Add new mail filter"));
    w.txtName()->setText(QStringLiteral("Undefined"));
    w.exec();
    if (w.Cancelled())
        return;
    CFilter rule;
    w.ReadInto(rule);
    filters_.Add(rule.Name(), rule.FilterObject(), rule.FilterAction(), rule.FilterText(), true);
    fillFilters();
}

void SpamPage::editFilter() {
    CFilter* rule = filters_.Item(lstFilters_->currentRow() + 1);
    if (!rule)
        return;
    FrmFilter w(prompter_, this);
    w.setWindowTitle(QStringLiteral("Edit mail filter"));
    w.Show(*rule);
    w.exec();
    if (w.Cancelled())
        return;
    w.ReadInto(*rule);
    const int row = lstFilters_->currentRow();
    fillFilters();
    lstFilters_->setCurrentRow(row);
}

void SpamPage::removeFilter() {
    const int row = lstFilters_->currentRow();
    if (row < 0 || row >= filters_.Count())
        return;
    filters_.Remove(row + 1);
    fillFilters();
}

} // namespace tessaly
