// The walk over the products registered under the client's name, on a products key of the test's own.
#include "footprint/named_products.h"
#include "mcl/mswin/unique_resource.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fltest;
using mcl::mswin::unique_hkey;

namespace {

bool set_product_name(const std::wstring& path, const std::wstring& name)
{
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, path.c_str(), L"ProductName", REG_SZ, name.c_str(),
                             static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// K1 and K4 carry the client's name, K2 another product's; K3 is a link to a key that carries it, which is no
// product. A walk that looked at every listed key is complete, whatever its bound; one that stopped with keys
// left says so.
TEST(NamedProducts, TheWalkFindsTheNamedProductsInOrderAndSaysWhenItStoppedAtItsBound)
{
    const std::wstring products = L"Software\\" + unique_name(L"flproducts");
    const std::wstring target = products + L"_target";
    ASSERT_TRUE(set_product_name(products + L"\\K1", L"Orvane Ferrolink"));
    ASSERT_TRUE(set_product_name(products + L"\\K2", L"Orvane Ferrolink Updater"));
    ASSERT_TRUE(set_product_name(target, L"Orvane Ferrolink"));
    ASSERT_TRUE(set_product_name(products + L"\\K4", L"Orvane Ferrolink"));
    {
        const machine_link link(products + L"\\K3", target);
        ASSERT_TRUE(link.made());
        const struct {
            DWORD most_keys;
            std::vector<std::wstring> found;
            bool stopped_at_bound;
        } cases[] = {
            {ferrolink::kMostProductKeys, {L"K1", L"K4"}, false},
            {4, {L"K1", L"K4"}, false},
            {3, {L"K1"}, true},
            {0, {}, true},
        };
        unique_hkey key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, products.c_str(), 0, KEY_READ, key.put()));
        for (const auto& c : cases) {
            ferrolink::named_product_walk walk(key.get(), c.most_keys);
            std::vector<std::wstring> found;
            for (std::wstring name; walk.next(name);)
                found.push_back(name);
            EXPECT_EQ(c.found, found) << c.most_keys;
            EXPECT_EQ(c.stopped_at_bound, walk.stopped_at_bound()) << c.most_keys;
        }
    }
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, products.c_str());
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, products.c_str());
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, target.c_str());
}

} // namespace
