#include "features/paging/cpager.h"

namespace tessaly {

void CPager::SetPagerType(int v) {
    if (v > PagerNumeric)
        v = PagerNumeric;
    if (v < PagerAlphaDialUp)
        v = PagerAlphaDialUp;
    type_ = static_cast<tessaly::PagerType>(v);
}

} // namespace tessaly
