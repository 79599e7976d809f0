#include "base/CoreBlnk.h"
#include "base/CoreButl.h"
#include "base/CoreXutl.h"

#include <cmath>

CoreBlnk::CoreBlnk()
    : dRate(2.0 * CoreButl::dCsecondsperday * CoreButl::dCpi * 0.5), dStart(CoreXutl::ttime()) {}

bool CoreBlnk::getvl() const {
    return std::sin((CoreXutl::ttime() - dStart) * dRate) > 0.0;
}
