#include "mcl/share_obj.h"

#include "mcl/log.h"

namespace mcl {

share_obj::~share_obj()
{
    if (ref_count != 0)
        MCL_LOG("mcl::share_obj::~share_obj", 17, "a shared object has been deleted with reference count %d",
                static_cast<int>(ref_count));
}

std::uint32_t share_obj::reference_count() const
{
    scoped_lock guard(ref_lock);
    return ref_count;
}

void share_obj::add_reference()
{
    scoped_lock guard(ref_lock);
    ++ref_count;
}

bool share_obj::drop_reference()
{
    scoped_lock guard(ref_lock);
    if (ref_count != 0)
        --ref_count;
    return ref_count == 0;
}

} // namespace mcl
