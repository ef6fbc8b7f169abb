#include <gtest/gtest.h>

#include <windows.h>

#include "EngineSupport.h"
#include "InstallerLaunch.h"
#include "TestPaths.h"

namespace {
TEST(InstallerLaunchTest, RequestAsksForElevationOnlyWithoutAdministratorRights)
{
    struct Case { bool admin; const wchar_t* verb; };
    const Case cases[] = {{true, L"open"}, {false, L"runas"}};
    const std::wstring path = L"C:\\Temp\\qvl1.tmp\\WRZ_QVL_Keyward_Install.exe";
    const HWND dialog = reinterpret_cast<HWND>(0x1234);
    for (const Case& c : cases) {
        const SHELLEXECUTEINFOW launch = DescribeInstallerLaunch(dialog, path, c.admin);
        EXPECT_EQ(launch.cbSize, sizeof(SHELLEXECUTEINFOW));
        EXPECT_EQ(launch.fMask, 0u);
        EXPECT_EQ(launch.hwnd, dialog);
        EXPECT_EQ(std::wstring(launch.lpVerb), c.verb);
        EXPECT_EQ(launch.lpFile, path.c_str());
        ASSERT_NE(launch.lpParameters, nullptr) << "an empty string, not a null pointer";
        EXPECT_EQ(std::wstring(launch.lpParameters), L"");
        EXPECT_EQ(launch.lpDirectory, nullptr);
        EXPECT_EQ(launch.nShow, SW_SHOWNORMAL);
        EXPECT_EQ(launch.hInstApp, nullptr);
        EXPECT_EQ(launch.lpIDList, nullptr);
        EXPECT_EQ(launch.lpClass, nullptr);
        EXPECT_EQ(launch.hkeyClass, nullptr);
        EXPECT_EQ(launch.hProcess, nullptr);
    }
}

// A dialog that hands the program at its parameter to LaunchInstaller as
// soon as it opens.
INT_PTR CALLBACK LaunchingDialog(HWND dialog, UINT message, WPARAM, LPARAM parameter)
{
    if (message != WM_INITDIALOG) return FALSE;
    LaunchInstaller(dialog, *reinterpret_cast<const std::wstring*>(parameter));
    return FALSE;
}

INT_PTR RunLaunchingDialog(const std::wstring& path)
{
    struct alignas(4) Template {
        DLGTEMPLATE header;
        WORD menu, windowClass, title;
    } dialog = {{WS_POPUP, 0, 0, 0, 0, 100, 50}, 0, 0, 0};
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &dialog.header, nullptr, LaunchingDialog,
                                   reinterpret_cast<LPARAM>(&path));
}

// The downloaded program really starts, with no arguments and the updater's
// own working directory, and the dialog ends with 1.
TEST(InstallerLaunchTest, DownloadedProgramIsStartedAndTheDialogEndsWithOne)
{
    ScratchDirectory scratch;
    const std::wstring installer = scratch / L"WRZ_QVL_Keyward_Install.exe";
    ASSERT_TRUE(CopyFileW(BesideTests(L"mark_file.exe").c_str(), installer.c_str(), FALSE));
    EXPECT_EQ(RunLaunchingDialog(installer), 1);

    const std::wstring mark = installer + L".mark";
    OwnerWindow pump;
    ASSERT_TRUE(pump.PumpUntil([&] { return FileExists(mark) && !ReadFileBytes(mark).empty(); }, 15000))
        << "the started program left no mark";
    Sleep(200);  // let the program finish its one write
    const std::string bytes = ReadFileBytes(mark);
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    wchar_t directory[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, directory);
    EXPECT_EQ(text.substr(0, text.find(L"\r\n")), L"[]") << "no arguments";
    EXPECT_NE(text.find(directory), std::wstring::npos) << Narrow(text);
}
}  // namespace
