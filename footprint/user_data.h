// Windows Installer's user data: one key per SID (the machine's "S-1-5-18" and each user's with per-user
// installations), each with the products, components and patches registered in that context.
#pragma once

#include <string>
#include <vector>

namespace ferrolink {

// Whether `name` is a SID's text ("S-1-" and then digits, single dashes between them): only such a name may
// complete a key path.
bool is_user_data_sid(const std::wstring& name);

// "...\Installer\UserData\" + sid: the user data of one context.
std::wstring user_data_path(const std::wstring& sid);

// The SIDs that have user data, the machine's included, each well-formed ("S-1-" and then digits and dashes).
std::vector<std::wstring> user_data_sids();

// The patches applied to the product in the user data of `sid`: the subkeys of its registration's Patches key,
// each a well-formed packed patch code (anything else could not name a key of its own).
std::vector<std::wstring> product_patches(const std::wstring& sid, const std::wstring& packed_product);

// Whether the registration of any product, in any user data, still lists the patch.
bool patch_still_applied(const std::wstring& packed_patch);

// Whether the component is still registered in any user data, for any product.
bool component_still_registered(const std::wstring& packed_component);

} // namespace ferrolink
