#pragma once
// The "Remote Control" page: whether commands sent by mail are obeyed, and
// the password they must carry.

#include "ui/options/optionspage.h"

namespace tessaly {

class RemotePage : public OptionsPage {
public:
    RemotePage();
};

} // namespace tessaly
