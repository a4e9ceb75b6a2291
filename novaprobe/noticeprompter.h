#pragma once
// The library's own message boxes when the host hands it none: an OK box
// while the host runs with windows, otherwise the prompt is reported on
// standard error and gets its default answer.

#include "platform/headlessprompter.h"

namespace novaprobe {

class NoticePrompter : public tessaly::HeadlessPrompter {
public:
    using tessaly::Prompter::messageBox;
    tessaly::MsgAnswer messageBox(const tessaly::MessageRequest& request) override;
};

} // namespace novaprobe
