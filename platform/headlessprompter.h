#pragma once
// The Prompter of a run without windows: every prompt is reported (standard
// error and, through the sink, the activity log) and gets its default answer.

#include "platform/prompter.h"

#include <functional>

namespace tessaly {

class HeadlessPrompter : public Prompter {
public:
    using Sink = std::function<void(const QString&)>;
    explicit HeadlessPrompter(Sink activitySink = {});
    void setActivitySink(Sink sink) { sink_ = std::move(sink); }

    using Prompter::messageBox;
    MsgAnswer messageBox(const MessageRequest& request) override;
    std::optional<QString> inputBox(const QString& prompt, const QString& title, const QString& defaultText) override;
    using Prompter::openFileName;
    QString openFileName(const FileDialogRequest& request) override;
    QString saveFileName(const FileDialogRequest& request) override;

private:
    void report(const QString& line);
    Sink sink_;
    bool reporting_ = false; // the sink may itself prompt (a failing log file)
};

} // namespace tessaly
