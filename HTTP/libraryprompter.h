#pragma once
// The library's own message boxes (the log's warnings, a failed window
// load): a modal box when the host runs with windows, otherwise the prompt
// is reported on standard error and gets its default answer.

#include "platform/headlessprompter.h"

namespace webwire {

class LibraryPrompter : public tessaly::HeadlessPrompter {
public:
    using tessaly::Prompter::messageBox;
    tessaly::MsgAnswer messageBox(const tessaly::MessageRequest& request) override;
};

} // namespace webwire
