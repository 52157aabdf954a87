// The owner of a client helper: whoever holds it releases the helper through OVClientHelper::releaseHelper on
// every path, never through delete.
#pragma once

#include "helper/iovchelper.h"

#include <memory>

namespace OVClientHelper {

struct helper_release {
    void operator()(iovchelper* helper) const { releaseHelper(helper); }
};

} // namespace OVClientHelper

// `Helper` is iovchelper, or the implementation class where a test needs it.
template <typename Helper = iovchelper>
using unique_helper = std::unique_ptr<Helper, OVClientHelper::helper_release>;
