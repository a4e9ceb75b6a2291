#include "ui/options/remotepage.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>

namespace tessaly {

using namespace optionsui;

RemotePage::RemotePage() : OptionsPage("Remote Control", "Remote", "Remote Control Properties") {
    auto* form = new QFormLayout(this);
    form->addRow(
        bindCheck(checkBox(this, "chkRemote", "Enable Remote Control Commands"), &OptionsFields::remoteEnabled));
    form->addRow(QStringLiteral("Remote Command Password"),
                 bindText(lineEdit(this, "txtRemotePassword"), &OptionsFields::remotePassword));
}

} // namespace tessaly
