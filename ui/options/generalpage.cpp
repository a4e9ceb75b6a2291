#include "ui/options/generalpage.h"

#include "platform/prompter.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace tessaly {

using namespace optionsui;

GeneralPage::GeneralPage(Prompter& prompter)
    : OptionsPage("General", "General", "General Options"), prompter_(prompter) {
    auto* form = new QFormLayout(this);
    auto* txtStartupFile = bindText(lineEdit(this, "txtStartupFile"), &OptionsFields::startupFile);
    auto* cmdBrowseStartup = button(this, "cmdBrowseStartup", "...");
    form->addRow(QStringLiteral("Startup Tessaly File"), withButton(txtStartupFile, cmdBrowseStartup));
    auto* txtEmailClient = bindText(lineEdit(this, "txtEmailClient"), &OptionsFields::emailClient);
    auto* cmdBrowseClient = button(this, "cmdBrowseClient", "...");
    form->addRow(QStringLiteral("Email Client Program Path"), withButton(txtEmailClient, cmdBrowseClient));
    chkSound_ = bindCheck(checkBox(this, "chkSound", "Play Sound When New Mail Arrives"), &OptionsFields::sound);
    form->addRow(chkSound_);
    txtSoundFile_ = bindText(lineEdit(this, "txtSoundFile"), &OptionsFields::soundFile);
    cmdBrowseSound_ = button(this, "cmdBrowseSound", "...");
    form->addRow(QString(), withButton(txtSoundFile_, cmdBrowseSound_));
    auto* sizeRow = new QHBoxLayout;
    lblIgnore_ = label(this, "lblIgnore", "Ignore messages greater than");
    txtMailSize_ = bindText(lineEdit(this, "txtMailSize"), &OptionsFields::mailSize);
    txtMailSize_->setMaximumWidth(60);
    lblKBytes_ = label(this, "lblKBytes", "KBytes");
    sizeRow->addWidget(lblIgnore_);
    sizeRow->addWidget(txtMailSize_);
    sizeRow->addWidget(lblKBytes_);
    sizeRow->addStretch();
    form->addRow(sizeRow);
    chkDownload_ = bindCheck(checkBox(this, "chkDownload", "Download Email Messages "), &OptionsFields::download);
    form->addRow(chkDownload_);
    chkPageHeaders_ = bindCheck(
        checkBox(this, "chkPageHeaders", "Page Email Headers", "Page Date, From, and Subject of email message"),
        &OptionsFields::pageHeaders);
    form->addRow(chkPageHeaders_);
    chkPageBody_ = bindCheck(checkBox(this, "chkPageBody", "Page Email message body"), &OptionsFields::pageBody);
    form->addRow(chkPageBody_);
    chkPagePriority_ = bindCheck(checkBox(this, "chkPagePriority", "Page Email message body on highest priority (1)"),
                                 &OptionsFields::pagePriority);
    form->addRow(chkPagePriority_);
    auto* txtMaxPages = bindText(lineEdit(this, "txtMaxPages"), &OptionsFields::maxPages);
    txtMaxPages->setMaximumWidth(60);
    form->addRow(QStringLiteral("Maximum pages per message:"), txtMaxPages);
    form->addRow(bindCheck(checkBox(this, "chkShowStatus", "Show Communication Status"), &OptionsFields::showStatus));
    form->addRow(bindCheck(checkBox(this, "chkTray", "Dock in system tray"), &OptionsFields::tray));
    form->addRow(
        bindCheck(checkBox(this, "chkUpdates", "Check for program updates (daily)"), &OptionsFields::checkUpdates));

    for (QCheckBox* c : {chkDownload_, chkPageHeaders_, chkSound_})
        rulesFollow(c);
    connect(cmdBrowseClient, &QPushButton::clicked, this, [this, txtEmailClient] {
        browse(txtEmailClient, QStringLiteral("Select Email Client Program File"), QStringLiteral("All Files (*)"));
    });
    connect(cmdBrowseSound_, &QPushButton::clicked, this, [this] {
        browse(txtSoundFile_, QStringLiteral("Select .WAV File"),
               QStringLiteral("WAV Files (*.WAV *.wav);;All Files (*)"));
    });
    connect(cmdBrowseStartup, &QPushButton::clicked, this, [this, txtStartupFile] {
        browse(txtStartupFile, QStringLiteral("Open File"), QStringLiteral("Tessaly Files (*.dat);;All Files (*)"));
    });
}

void GeneralPage::applyRules() {
    const bool download = chkDownload_->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{txtMailSize_, lblIgnore_, lblKBytes_, chkPageHeaders_})
        w->setEnabled(download);
    const bool headers = download && chkPageHeaders_->isChecked();
    chkPageBody_->setEnabled(headers);
    chkPagePriority_->setEnabled(headers);
    txtSoundFile_->setEnabled(chkSound_->isChecked());
    cmdBrowseSound_->setEnabled(chkSound_->isChecked());
}

void GeneralPage::browse(QLineEdit* field, const QString& title, const QString& filter) {
    const QString dir = field->text().isEmpty() ? QString() : QFileInfo(field->text()).absolutePath();
    const QString chosen = prompter_.openFileName(title, dir, filter);
    if (!chosen.isEmpty())
        field->setText(chosen);
}

} // namespace tessaly
