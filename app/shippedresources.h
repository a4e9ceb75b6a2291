#pragma once
// The files shipped into the program directory on first start (DEFAULT.dat,
// NewMail.wav) are compiled into the application library. A static library's resources
// are only registered once something calls this; main and the tests do,
// before the program directory is prepared.

namespace tessaly {

void initShippedResources();

} // namespace tessaly
