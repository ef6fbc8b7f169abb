#include <gtest/gtest.h>

#include "InstanceMutexName.h"

namespace {
TEST(InstanceMutexName, FourValuesInOrderWithTheSessionAsSignedDecimal)
{
    const wchar_t* prefix = L"MutexNameGUID299E7DB91AF94376AAB054268F95BF29OEMID9324SESSIONID";
    EXPECT_EQ(InstanceMutexName(0), std::wstring(prefix) + L"0APPQuillon");
    EXPECT_EQ(InstanceMutexName(17), std::wstring(prefix) + L"17APPQuillon");
    EXPECT_EQ(InstanceMutexName(0xFFFFFFFF), std::wstring(prefix) + L"-1APPQuillon");
}
}  // namespace
