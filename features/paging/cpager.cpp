#include "features/paging/cpager.h"

#include <algorithm>

namespace tessaly {

void CPager::SetPagerType(int v) {
    type_ = static_cast<tessaly::PagerType>(std::clamp<int>(v, PagerAlphaDialUp, kLastPagerType));
    if (IsProfileType(type_))
        profileType_ = type_;
}

void CPager::SetProfileType(int v) {
    profileType_ = static_cast<tessaly::PagerType>(std::clamp<int>(v, PagerAlphaDialUp, kLastProfileType));
    type_ = profileType_;
}

} // namespace tessaly
