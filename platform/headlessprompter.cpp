#include "platform/headlessprompter.h"

#include <cstdio>

namespace tessaly {

HeadlessPrompter::HeadlessPrompter(Sink activitySink) : sink_(std::move(activitySink)) {}

void HeadlessPrompter::report(const QString& line) {
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
    if (sink_ && !reporting_) {
        reporting_ = true;
        sink_(line);
        reporting_ = false;
    }
}

MsgAnswer HeadlessPrompter::messageBox(const MessageRequest& request) {
    const MsgAnswer answer = defaultAnswer(request.buttons);
    QString text = request.text;
    text.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace(QLatin1Char('\n'), QLatin1Char(' '));
    report(QStringLiteral("Message: %1 [%2]").arg(text, buttonsText(request.buttons)));
    return answer;
}

std::optional<QString> HeadlessPrompter::inputBox(const QString& prompt, const QString&, const QString& defaultText) {
    report(QStringLiteral("Input: %1 [%2]").arg(prompt, defaultText));
    return defaultText;
}

QString HeadlessPrompter::openFileName(const FileDialogRequest& request) {
    report(QStringLiteral("File dialog cancelled (no display): %1").arg(request.title));
    return {};
}

QString HeadlessPrompter::saveFileName(const FileDialogRequest& request) {
    report(QStringLiteral("File dialog cancelled (no display): %1").arg(request.title));
    return {};
}

} // namespace tessaly
