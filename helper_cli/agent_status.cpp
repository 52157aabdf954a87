#include "helper_cli/agent_status.h"

#include "helper_cli/console_output.h"
#include "mcl/mswin/unique_resource.h"
#include "mcl/mswin/utf.h"

#include <cstdio>

namespace {

using mcl::mswin::unique_com;
using mcl::mswin::unique_variant;

// In-process server, in-process handler, local server and remote server.
const DWORD agent_class_context = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                  CLSCTX_REMOTE_SERVER;

void print_failure(const char* what, HRESULT result)
{
    std::printf("%s, error: 0x%X\n", what, static_cast<unsigned>(result));
    std::fflush(stdout);
}


bool create_agent_object(unique_com<IDispatch>& agent)
{
    CLSID agent_class = {};
    HRESULT result = ::CLSIDFromProgID(L"SentinelHelper.1", &agent_class);
    if (FAILED(result)) {
        print_failure("CLSIDFromProgID failed on SentinelHelper.1", result);
        return false;
    }
    result = ::CoCreateInstance(agent_class, nullptr, agent_class_context, IID_IDispatch,
                                reinterpret_cast<void**>(agent.put()));
    if (FAILED(result)) {
        print_failure("CoCreateInstance failed on sentinelHelperCLSID", result);
        return false;
    }
    return true;
}

bool call_status_method(IDispatch* agent, unique_variant& reply)
{
    wchar_t method_name[] = L"GetAgentStatusJSON";
    LPOLESTR names[] = {method_name};
    DISPID method = DISPID_UNKNOWN;
    HRESULT result = agent->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &method);
    if (FAILED(result)) {
        print_failure("GetIDsOfNames failed on GetAgentStatusJSON", result);
        return false;
    }
    DISPPARAMS no_arguments = {nullptr, nullptr, 0, 0};
    result = agent->Invoke(method, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &no_arguments, reply.get(),
                           nullptr, nullptr);
    if (FAILED(result)) {
        print_failure("Failed to invoke GetAgentStatusJSON", result);
        return false;
    }
    // Anything but a text would be read as a string pointer it is not.
    if (reply.value().vt != VT_BSTR) {
        print_failure("GetAgentStatusJSON returned no text", DISP_E_TYPEMISMATCH);
        return false;
    }
    return true;
}

} // namespace

bool query_agent_status(std::string& status)
{
    unique_com<IDispatch> agent;
    if (!create_agent_object(agent))
        return false;
    unique_variant reply;
    status.clear();
    if (!agent) {
        std::printf("S1Helper object has not been initialized.");
        std::fflush(stdout);
        return false;
    }
    if (!call_status_method(agent.get(), reply))
        return false;
    const BSTR text = reply.value().bstrVal;
    status = mcl::mswin::wide_to_utf8(std::wstring_view(text, ::SysStringLen(text)));
    // The text is the agent's: filtered for the console only.
    std::printf("SentinelOne status: %s\n", helper_cli::printable(status).c_str());
    std::fflush(stdout);
    return true;
}
