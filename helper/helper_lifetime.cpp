// Creating and releasing a client helper: the only ways a caller gets or gives up an ovchelper.
#include "helper/iovchelper.h"
#include "helper/ovchelper.h"
#include "mcl/log.h"

#include <new>

iovchelper* create_helper()
{
    ovchelper* helper = new (std::nothrow) ovchelper();
    return helper;
}

namespace OVClientHelper {

void releaseHelper(iovchelper* helper)
{
    ovchelper* own = dynamic_cast<ovchelper*>(helper);
    if (own == nullptr) {
        MCL_LOG("OVClientHelper::releaseHelper", 33, "Failed to convert incoming iovchelper pointer to ovhelper");
        return;
    }
    delete own;
}

} // namespace OVClientHelper
