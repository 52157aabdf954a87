#include "mcl/mswin/process_user.h"

#include "mcl/mswin/unique_resource.h"

#include <sddl.h>

namespace mcl::mswin {

std::vector<unsigned char> process_user_sid()
{
    unique_handle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return {};
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0)
        return {};
    const unique_local_block<TOKEN_USER> user(size);
    if (!user || !::GetTokenInformation(token.get(), TokenUser, user.get(), size, &size))
        return {};
    const PSID sid = user.get()->User.Sid;
    std::vector<unsigned char> copy(::GetLengthSid(sid));
    if (!::CopySid(static_cast<DWORD>(copy.size()), copy.data(), sid))
        return {};
    return copy;
}

std::wstring sid_text(PSID sid)
{
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text))
        return std::wstring();
    const unique_hlocal owner(text);
    return text;
}

} // namespace mcl::mswin
