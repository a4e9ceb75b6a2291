#pragma once
// The "Remote Control" page: whether commands sent by mail are obeyed, and
// the password they must carry, the senders they may come from and the
// folder "run" may open files from.

#include "ui/options/optionspage.h"

namespace tessaly {

class RemotePage : public OptionsPage {
public:
    RemotePage();
};

} // namespace tessaly
