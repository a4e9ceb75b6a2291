#include "tests/fakes/scriptedprompter.h"

namespace tessaly {

MsgAnswer ScriptedPrompter::messageBox(const MessageRequest& request) {
    messages_.append(request);
    if (answers_.empty())
        return defaultAnswer(request.buttons);
    const MsgAnswer a = answers_.front();
    answers_.pop_front();
    return a;
}

std::optional<QString> ScriptedPrompter::inputBox(const QString& prompt, const QString&,
                                                  const QString& defaultText) {
    inputPrompts_.append(prompt);
    if (inputs_.empty())
        return defaultText;
    const bool given = inputs_.front().has_value();
    const QString text = inputs_.front().value_or(QString());
    inputs_.pop_front();
    if (!given)
        return std::nullopt;
    return text;
}

QString ScriptedPrompter::openFileName(const FileDialogRequest& request) {
    fileDialogs_.append({false, request});
    return nextFile();
}

QString ScriptedPrompter::saveFileName(const FileDialogRequest& request) {
    fileDialogs_.append({true, request});
    return nextFile();
}

QString ScriptedPrompter::nextFile() {
    if (files_.empty())
        return {};
    const QString f = files_.front();
    files_.pop_front();
    return f;
}

QStringList ScriptedPrompter::messageTexts() const {
    QStringList out;
    for (const auto& m : messages_)
        out << m.text;
    return out;
}

} // namespace tessaly
