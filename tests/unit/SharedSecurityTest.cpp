#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include "SharedSecurity.h"

namespace {
// What the creating calls are handed: a present DACL (never a null one, which
// would let anyone rewrite the rules) with exactly one rule, Everyone: full
// access, inherited by files and folders created inside.
TEST(SharedSecurityAttributes, OneInheritableEveryoneFullAccessRule)
{
    SharedSecurityAttributes security;
    SECURITY_ATTRIBUTES* attributes = security.get();
    ASSERT_NE(attributes, nullptr);
    EXPECT_EQ(attributes->nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_FALSE(attributes->bInheritHandle);

    BOOL present = FALSE, defaulted = TRUE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(attributes->lpSecurityDescriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_FALSE(defaulted);
    ASSERT_NE(dacl, nullptr);
    ASSERT_EQ(dacl->AceCount, 1);

    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, 0, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(ace->Mask, static_cast<DWORD>(FILE_ALL_ACCESS));
    wchar_t* sid = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(&ace->SidStart, &sid));
    EXPECT_STREQ(sid, L"S-1-1-0");
    LocalFree(sid);
}
}  // namespace
