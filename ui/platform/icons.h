#pragma once
// The program's pictures, drawn at run time so no image plug-in is needed.

#include <QIcon>

namespace tessaly {

QIcon windowIcon();  // a pager
QIcon newMailIcon(); // an envelope: the blinking tray picture on new mail

} // namespace tessaly
