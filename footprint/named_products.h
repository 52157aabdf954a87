// The Windows Installer products registered under the client's name, whatever their product code: step 8 deletes
// the first, step 6 takes the codes of all, and the audit lists them all. One walk, so all three see the same.
#pragma once

#include "mcl/mswin/unique_resource.h"

#include <windows.h>

#include <string>

namespace ferrolink {

// How many product keys one walk looks at: the bound of every listing in this layer. A machine registers a few
// thousand products at most; the bound ends a listing that someone keeps growing while it is walked.
const DWORD kMostProductKeys = 100000;

// Opens HKCR "Installer\Products" for reading. ERROR_SUCCESS or the error of the open.
LONG open_installer_products(mcl::mswin::unique_hkey& products);

// Walks the product keys below `products` in the order the registry lists them, and stops at each one whose
// "ProductName" is a string that is exactly the client's name. Each key is opened as itself: a link there is no
// product.
class named_product_walk {
public:
    explicit named_product_walk(HKEY products, DWORD most_keys = kMostProductKeys)
        : products_(products), most_keys_(most_keys)
    {
    }

    // The next such key's name; false once the listing ends, or once `most_keys` keys were looked at and more
    // are listed.
    bool next(std::wstring& name);
    // After next() gave false: whether keys were left unlooked-at at the bound.
    bool stopped_at_bound() const { return stopped_at_bound_; }

private:
    HKEY products_;
    DWORD most_keys_;
    DWORD index_ = 0;
    bool stopped_at_bound_ = false;
};

} // namespace ferrolink
