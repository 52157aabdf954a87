#include "mcl/mswin/security.h"

namespace mcl::mswin {

bool make_open_descriptor(unique_hlocal& descriptor, SECURITY_ATTRIBUTES& attributes, BOOL inherit)
{
    descriptor.reset(::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!descriptor)
        return false;
    PSECURITY_DESCRIPTOR sd = descriptor.get();
    if (!::InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(sd, TRUE, nullptr, FALSE)) {
        descriptor.reset();
        return false;
    }
    attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    attributes.lpSecurityDescriptor = sd;
    attributes.bInheritHandle = inherit;
    return true;
}

} // namespace mcl::mswin
