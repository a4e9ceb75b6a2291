#include "app/shippedresources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void registerShipped() { Q_INIT_RESOURCE(shipped); }

namespace tessaly {

void initShippedResources() {
    static const bool done = (registerShipped(), true);
    Q_UNUSED(done);
}

} // namespace tessaly
