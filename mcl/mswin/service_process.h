// The process that runs a service, for those who must wait for it or end it.
#pragma once

#include "mcl/mswin/unique_resource.h"

namespace mcl::mswin {

// The process of `service` (opened with SERVICE_QUERY_STATUS and SERVICE_QUERY_CONFIG), opened with `access`,
// or none. The manager may still report the id of a process that has ended, and ids pass on to new processes:
// only a process that runs a program of the service program's file name is returned.
unique_handle open_service_process(SC_HANDLE service, DWORD access);

} // namespace mcl::mswin
