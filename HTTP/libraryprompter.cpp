#include "libraryprompter.h"

#include <QApplication>
#include <QMessageBox>

namespace webwire {

using tessaly::MsgAnswer;
using tessaly::MsgButtons;
using tessaly::MsgIcon;

MsgAnswer LibraryPrompter::messageBox(const tessaly::MessageRequest& request) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return HeadlessPrompter::messageBox(request);
    using SB = QMessageBox::StandardButton;
    static const struct {
        MsgButtons buttons;
        QMessageBox::StandardButtons standard;
    } kButtons[] = {
        {MsgButtons::OK, SB::Ok},
        {MsgButtons::OKCancel, SB::Ok | SB::Cancel},
        {MsgButtons::AbortRetryIgnore, SB::Abort | SB::Retry | SB::Ignore},
        {MsgButtons::YesNoCancel, SB::Yes | SB::No | SB::Cancel},
        {MsgButtons::YesNo, SB::Yes | SB::No},
        {MsgButtons::RetryCancel, SB::Retry | SB::Cancel},
    };
    static const struct {
        SB button;
        MsgAnswer answer;
    } kAnswers[] = {{SB::Ok, MsgAnswer::OK},       {SB::Cancel, MsgAnswer::Cancel}, {SB::Abort, MsgAnswer::Abort},
                    {SB::Retry, MsgAnswer::Retry}, {SB::Ignore, MsgAnswer::Ignore}, {SB::Yes, MsgAnswer::Yes},
                    {SB::No, MsgAnswer::No}};
    QMessageBox box;
    box.setWindowTitle(request.title.isEmpty() ? QStringLiteral("Webwire") : request.title);
    box.setText(request.text);
    box.setIcon(request.icon == MsgIcon::Critical      ? QMessageBox::Critical
                : request.icon == MsgIcon::Warning     ? QMessageBox::Warning
                : request.icon == MsgIcon::Question    ? QMessageBox::Question
                : request.icon == MsgIcon::Information ? QMessageBox::Information
                                                       : QMessageBox::NoIcon);
    for (const auto& b : kButtons)
        if (b.buttons == request.buttons)
            box.setStandardButtons(b.standard);
    const int chosen = box.exec();
    for (const auto& a : kAnswers)
        if (a.button == chosen)
            return a.answer;
    return tessaly::defaultAnswer(request.buttons);
}

} // namespace webwire
