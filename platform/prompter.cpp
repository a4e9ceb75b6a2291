#include "platform/prompter.h"

namespace tessaly {

MsgAnswer defaultAnswer(MsgButtons buttons) {
    switch (buttons) {
    case MsgButtons::OK:
    case MsgButtons::OKCancel: return MsgAnswer::OK;
    case MsgButtons::AbortRetryIgnore: return MsgAnswer::Abort;
    case MsgButtons::YesNoCancel:
    case MsgButtons::YesNo: return MsgAnswer::Yes;
    case MsgButtons::RetryCancel: return MsgAnswer::Cancel;
    }
    return MsgAnswer::OK;
}

QString buttonsText(MsgButtons buttons) {
    switch (buttons) {
    case MsgButtons::OK: return QStringLiteral("OK");
    case MsgButtons::OKCancel: return QStringLiteral("OK/Cancel");
    case MsgButtons::AbortRetryIgnore: return QStringLiteral("Abort/Retry/Ignore");
    case MsgButtons::YesNoCancel: return QStringLiteral("Yes/No/Cancel");
    case MsgButtons::YesNo: return QStringLiteral("Yes/No");
    case MsgButtons::RetryCancel: return QStringLiteral("Retry/Cancel");
    }
    return {};
}

} // namespace tessaly
