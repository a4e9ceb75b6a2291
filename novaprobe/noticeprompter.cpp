#include "noticeprompter.h"

#include <QApplication>
#include <QMessageBox>

namespace novaprobe {

tessaly::MsgAnswer NoticePrompter::messageBox(const tessaly::MessageRequest& request) {
    // Novaprobe's only boxes carry an OK button.
    if (request.buttons != tessaly::MsgButtons::OK || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return HeadlessPrompter::messageBox(request);
    QMessageBox::information(nullptr, request.title.isEmpty() ? QStringLiteral("Novaprobe") : request.title,
                             request.text);
    return tessaly::MsgAnswer::OK;
}

} // namespace novaprobe
