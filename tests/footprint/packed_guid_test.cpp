#include "footprint/packed_guid.h"

#include <gtest/gtest.h>

namespace {

using ferrolink::to_packed_guid;

TEST(PackedGuid, PacksTheClientsUpgradeCode)
{
    EXPECT_EQ(L"74C19A3B56E2F8D4C9A1F7402D6E8A35", to_packed_guid(L"B3A91C47-2E65-4D8F-9C1A-7F04D2E6A853"));
}

TEST(PackedGuid, ReversesTheFirstThreeGroupsAndSwapsTheDigitsOfEachLaterByte)
{
    EXPECT_EQ(L"76543210BA98FEDC1032547698BADCFE", to_packed_guid(L"01234567-89AB-CDEF-0123-456789ABCDEF"));
}

TEST(PackedGuid, KeepsTheLetterCaseItIsGiven)
{
    EXPECT_EQ(L"74c19a3b56e2f8d4c9a1f7402d6e8a35", to_packed_guid(L"b3a91c47-2e65-4d8f-9c1a-7f04d2e6a853"));
}

TEST(PackedGuid, AnythingButABareGuidGivesNothing)
{
    for (const wchar_t* text : {L"", L"{B3A91C47-2E65-4D8F-9C1A-7F04D2E6A853}", L"B3A91C47-2E65-4D8F-9C1A-7F04D2E6A85",
                                L"B3A91C472E654D8F9C1A7F04D2E6A853", L"B3A91C47-2E65-4D8F-9C1A-7F04D2E6A85G",
                                L"B3A91C47+2E65-4D8F-9C1A-7F04D2E6A853", L"B3A91C47-2E65-4D8F-9C1A-7F04D2E6A8533"})
        EXPECT_EQ(L"", to_packed_guid(text)) << text;
}

} // namespace

TEST(PackedGuid, UnpacksAPackedCodeToItsBracedGuidAndNothingElse)
{
    using ferrolink::from_packed_guid;
    EXPECT_EQ(L"{B3A91C47-2E65-4D8F-9C1A-7F04D2E6A853}", from_packed_guid(L"74C19A3B56E2F8D4C9A1F7402D6E8A35"));
    EXPECT_EQ(L"{01234567-89ab-CDEF-0123-456789ABCDEF}", from_packed_guid(L"76543210ba98FEDC1032547698BADCFE"));
    for (const wchar_t* text : {L"", L"74C19A3B56E2F8D4C9A1F7402D6E8A3", L"74C19A3B56E2F8D4C9A1F7402D6E8A355",
                                L"74C19A3B56E2F8D4C9A1F7402D6E8A3G", L"74C19A3B-6E2F8D4C9A1F7402D6E8A35"})
        EXPECT_EQ(L"", from_packed_guid(text)) << text;
}
