// The walk over the products registered under the client's name, on a products key of the test's own.
#include "footprint/named_products.h"
#include "mcl/mswin/unique_resource.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace fltest;
using mcl::mswin::unique_hkey;

namespace {

bool set_product_name(const std::wstring& path, const std::wstring& name)
{
    unique_hkey key;
    return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                             nullptr) == ERROR_SUCCESS &&
           ::RegSetValueExW(key.get(), L"ProductName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                            static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// K1 and K4 carry the client's name; K2 another product's; K3 is a link to a key that carries it, which is no
// product. Listed in this order.
class named_products : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(set_product_name(products_ + L"\\K1", L"Orvane Ferrolink"));
        ASSERT_TRUE(set_product_name(products_ + L"\\K2", L"Orvane Ferrolink Updater"));
        ASSERT_TRUE(set_product_name(target_, L"Orvane Ferrolink"));
        link_.reset(new machine_link(products_ + L"\\K3", target_));
        ASSERT_TRUE(link_->made());
        ASSERT_TRUE(set_product_name(products_ + L"\\K4", L"Orvane Ferrolink"));
    }
    void TearDown() override
    {
        link_.reset();
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, products_.c_str());
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, products_.c_str());
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, target_.c_str());
    }

    const std::wstring products_ = L"Software\\" + unique_name(L"flproducts");
    const std::wstring target_ = products_ + L"_target";
    std::unique_ptr<machine_link> link_;
};

// A walk that looked at every listed key is complete, whatever its bound; one that stopped with keys left says so.
TEST_F(named_products, the_walk_finds_the_named_products_in_order_and_says_when_it_stopped_at_its_bound)
{
    const struct {
        DWORD most_keys;
        std::vector<std::wstring> found;
        bool stopped_at_bound;
    } cases[] = {
        {ferrolink::kMostProductKeys, {L"K1", L"K4"}, false},
        {4, {L"K1", L"K4"}, false},
        {3, {L"K1"}, true},
        {1, {L"K1"}, true},
        {0, {}, true},
    };
    unique_hkey products;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, products_.c_str(), 0, KEY_READ, products.put()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.most_keys);
        ferrolink::named_product_walk walk(products.get(), c.most_keys);
        std::vector<std::wstring> found;
        for (std::wstring name; walk.next(name);)
            found.push_back(name);
        EXPECT_EQ(c.found, found);
        EXPECT_EQ(c.stopped_at_bound, walk.stopped_at_bound());
    }
}

} // namespace
