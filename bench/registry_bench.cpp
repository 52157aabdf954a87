// Registry benchmarks of the cleaner, each against a baseline of plain registry calls in the same run:
//   the components sweep over 20,000 component keys, against opening each key and querying the product's value;
//   the recursive key deleter over a tree of about 10,000 keys, against RegDeleteTreeW.
// Works under a key of its own in HKCU and removes it at the end.
#include "cleaner/mechanisms/component_sweep.h"
#include "cleaner/mechanisms/registry_tree.h"

#include "bench_clock.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const int kComponents = 20000;
const int kProductEvery = 4000;  // the product's value in a handful of component keys
const int kRounds = 3;
const wchar_t kProduct[] = L"41A8E2C5D3B706F4A9E1D2C4B6F8A013";

std::wstring hex_name(unsigned seed)
{
    wchar_t name[33];
    std::swprintf(name, 33, L"%08X%08X%08X%08X", seed * 2654435761u, seed ^ 0x5bd1e995u, seed * 40503u, seed);
    return name;
}

HKEY create(HKEY parent, const std::wstring& name)
{
    HKEY key = nullptr;
    ::RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
}

void set_value(HKEY key, const std::wstring& name, const std::wstring& data)
{
    ::RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

// 20,000 component keys with three values each; every kProductEvery-th holds the product's value, not first.
std::vector<std::wstring> build_components(const std::wstring& path)
{
    std::vector<std::wstring> names;
    HKEY components = create(HKEY_CURRENT_USER, path);
    for (int i = 0; i < kComponents; ++i) {
        names.push_back(hex_name(static_cast<unsigned>(i)));
        HKEY component = create(components, names.back());
        set_value(component, L"00000000000000000000000000000000", L"C:\\Program Files\\Shared\\file.dll");
        set_value(component, hex_name(static_cast<unsigned>(i) + 1000000u), L"02:\\Software\\Vendor\\Value");
        if (i % kProductEvery == 0)
            set_value(component, kProduct, L"C:\\Program Files\\Orvane\\file.dll");
        else
            set_value(component, hex_name(static_cast<unsigned>(i) + 2000000u), L"C:\\Windows\\file.sys");
        ::RegCloseKey(component);
    }
    ::RegCloseKey(components);
    return names;
}

// Puts the product's value back where the sweep took it, so every round has the same work.
void restore_product_values(const std::wstring& path, const std::vector<std::wstring>& names)
{
    for (int i = 0; i < kComponents; i += kProductEvery) {
        HKEY component = create(HKEY_CURRENT_USER, path + names[static_cast<size_t>(i)]);
        set_value(component, kProduct, L"C:\\Program Files\\Orvane\\file.dll");
        ::RegCloseKey(component);
    }
}

// Opens every component key, found by enumeration, and queries the product's value directly.
double baseline_enumerated(const std::wstring& path)
{
    const double start = now_ms();
    HKEY components = nullptr;
    ::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &components);
    int found = 0;
    for (DWORD index = 0;; ++index) {
        wchar_t name[260];
        DWORD length = 260;
        if (::RegEnumKeyExW(components, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY component = nullptr;
        if (::RegOpenKeyExW(components, name, 0, KEY_READ, &component) != ERROR_SUCCESS)
            break;
        found += ::RegQueryValueExW(component, kProduct, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        ::RegCloseKey(component);
    }
    ::RegCloseKey(components);
    const double elapsed = now_ms() - start;
    if (found != kComponents / kProductEvery)
        std::printf("  baseline found %d product values\n", found);
    return elapsed;
}

// The same, with the names known beforehand: only the open and the query per key.
double baseline_known_names(const std::wstring& path, const std::vector<std::wstring>& names)
{
    const double start = now_ms();
    HKEY components = nullptr;
    ::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &components);
    for (const std::wstring& name : names) {
        HKEY component = nullptr;
        if (::RegOpenKeyExW(components, name.c_str(), 0, KEY_READ, &component) != ERROR_SUCCESS)
            break;
        ::RegQueryValueExW(component, kProduct, nullptr, nullptr, nullptr, nullptr);
        ::RegCloseKey(component);
    }
    ::RegCloseKey(components);
    return now_ms() - start;
}

double time_sweep(const std::wstring& path)
{
    const double start = now_ms();
    // Timed only: the tests check what the sweep returns and leaves.
    static_cast<void>(cleaner::sweep_components_under(HKEY_CURRENT_USER, path, kProduct));
    return now_ms() - start;
}

// 10 x 10 x 99 leaves below `path`, each leaf with one value: 10,011 keys with the top.
int build_tree(const std::wstring& path)
{
    int keys = 1;
    HKEY top = create(HKEY_CURRENT_USER, path);
    for (int a = 0; a < 10; ++a) {
        HKEY level1 = create(top, L"branch" + std::to_wstring(a));
        ++keys;
        for (int b = 0; b < 10; ++b) {
            HKEY level2 = create(level1, L"twig" + std::to_wstring(b));
            ++keys;
            for (int c = 0; c < 99; ++c) {
                HKEY leaf = create(level2, L"leaf" + std::to_wstring(c));
                set_value(leaf, L"Setting", L"value");
                ::RegCloseKey(leaf);
                ++keys;
            }
            ::RegCloseKey(level2);
        }
        ::RegCloseKey(level1);
    }
    ::RegCloseKey(top);
    return keys;
}

bool key_exists(const std::wstring& path)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void bench_sweep(const std::wstring& base)
{
    const std::wstring path = base + L"\\Components\\";
    std::printf("components sweep: building %d component keys...\n", kComponents);
    const std::vector<std::wstring> names = build_components(path);
    std::vector<double> sweep, enumerated, known;
    for (int round = 0; round < kRounds; ++round) {
        restore_product_values(path, names);
        enumerated.push_back(baseline_enumerated(path));
        known.push_back(baseline_known_names(path, names));
        sweep.push_back(time_sweep(path));
        std::printf("  round %d: sweep %.1f ms, baseline enumerate+open+query %.1f ms, open+query %.1f ms\n",
                    round + 1, sweep.back(), enumerated.back(), known.back());
    }
    const double s = median(sweep), e = median(enumerated), k = median(known);
    std::printf("components sweep (median of %d): %.1f ms; baseline enumerate+open+query %.1f ms (ratio %.2f); "
                "open+query with known names %.1f ms (ratio %.2f)\n",
                kRounds, s, e, s / e, k, s / k);
}

void bench_tree(const std::wstring& base)
{
    std::vector<double> ours, system;
    for (int round = 0; round < kRounds; ++round) {
        const std::wstring first = base + L"\\tree_a";
        const std::wstring second = base + L"\\tree_b";
        const int keys = build_tree(first);
        build_tree(second);
        // Alternate which goes first, so neither profits from what the other warmed up.
        const bool ours_first = round % 2 == 0;
        const std::wstring& our_path = ours_first ? first : second;
        const std::wstring& their_path = ours_first ? second : first;
        double our_ms = 0, their_ms = 0;
        for (int turn = 0; turn < 2; ++turn) {
            const double start = now_ms();
            if ((turn == 0) == ours_first)
                static_cast<void>(cleaner::delete_registry_tree(HKEY_CURRENT_USER, our_path, false));
            else
                ::RegDeleteTreeW(HKEY_CURRENT_USER, their_path.c_str());
            ((turn == 0) == ours_first ? our_ms : their_ms) = now_ms() - start;
        }
        ::RegDeleteKeyW(HKEY_CURRENT_USER, their_path.c_str());
        if (key_exists(our_path) || key_exists(their_path))
            std::printf("  a tree was left behind\n");
        ours.push_back(our_ms);
        system.push_back(their_ms);
        std::printf("  round %d (%d keys): delete_registry_tree %.1f ms, RegDeleteTreeW %.1f ms\n", round + 1, keys,
                    our_ms, their_ms);
    }
    const double o = median(ours), t = median(system);
    std::printf("delete_registry_tree (median of %d): %.1f ms; RegDeleteTreeW %.1f ms (ratio %.2f)\n", kRounds, o,
                t, o / t);
}

} // namespace

int main()
{
    const std::wstring base = L"Software\\FerrolinkBench" + std::to_wstring(::GetCurrentProcessId());
    bench_sweep(base);
    bench_tree(base);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, base.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, base.c_str());
    return 0;
}
