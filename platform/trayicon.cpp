#include "platform/trayicon.h"
