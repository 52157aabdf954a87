// Per-user installations of the client, managed (assigned by policy) or not.
#pragma once

#include "footprint/installer_product.h"

#include <string>
#include <vector>

namespace ferrolink {

struct user_installation {
    std::wstring sid;  // the user's, as the machine's own records name it
    product_codes codes;
};

// Every per-user installation of the client, each once: the products that Windows Installer reports for all
// users in the per-user contexts, and those registered under a user's SID in UserData or in Managed. A product
// counts as the client's only by what the administrators' part of the registry says: its code is one of
// `client_codes` (the client's product codes), or its per-user registration in UserData or Managed carries the
// client's name, or the managed index of the client's upgrade code lists it. A user's own hive is never asked:
// its owner may write anything there.
std::vector<user_installation> client_user_installations(const std::vector<std::wstring>& client_codes);

// "...\Installer\Managed\" + sid + "\Installer\": the machine's registration of the user's managed installations.
std::wstring managed_installer_path(const std::wstring& sid);

} // namespace ferrolink
