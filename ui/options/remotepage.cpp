#include "ui/options/remotepage.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace tessaly {

using namespace optionsui;

RemotePage::RemotePage() : OptionsPage("Remote Control", "Remote", "Remote Control Properties") {
    auto* form = new QFormLayout(this);
    form->addRow(
        bindCheck(checkBox(this, "chkRemote", "Enable Remote Control Commands"), &OptionsFields::remoteEnabled));
    form->addRow(QStringLiteral("Remote Command Password"),
                 bindText(lineEdit(this, "txtRemotePassword"), &OptionsFields::remotePassword));
    form->addRow(QStringLiteral("Allowed Senders"),
                 bindText(lineEdit(this, "txtRemoteSenders",
                                   "The mail addresses whose command messages are obeyed, separated by commas"),
                          &OptionsFields::remoteSenders));
    form->addRow(QStringLiteral("Run Folder"),
                 bindText(lineEdit(this, "txtRemoteRunFolder",
                                   "The only folder \"run\" may open files from; empty: \"run\" is off"),
                          &OptionsFields::remoteRunFolder));
    auto* note = label(this, "lblRemoteNote",
                       "Commands are obeyed only from the allowed senders, from a mailbox read over TLS (or one "
                       "whose security is \"none\"), and only from messages dated within the last 24 hours.");
    note->setWordWrap(true);
    form->addRow(note);
}

} // namespace tessaly
