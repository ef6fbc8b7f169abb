#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RegistryArguments.h"

namespace {
using Texts = std::vector<std::wstring>;

// A stack of texts (top first) and a trace list, popping the way PopString
// does: a text that does not fit is taken off the stack but reported.
class ScriptedArguments final : public RegistryArgumentSource {
public:
    ScriptedArguments(Texts stack, bool wow64) : stack_(std::move(stack)), wow64_(wow64) {}

    PopResult Pop(wchar_t* buffer, std::size_t capacity) override
    {
        if (stack_.empty()) return PopResult::Empty;
        const std::wstring text = stack_.front();
        stack_.erase(stack_.begin());
        const bool fits = text.size() < capacity;
        const std::wstring copied = fits ? text : text.substr(0, capacity - 1);
        std::copy(copied.begin(), copied.end(), buffer);
        buffer[copied.size()] = L'\0';
        return fits ? PopResult::Popped : PopResult::TooLong;
    }
    void Trace(const wchar_t* text) override { trace_.emplace_back(text); }
    bool RunsOn64BitWindows() override { ++wow64Questions_; return wow64_; }

    const Texts& Stack() const { return stack_; }
    const Texts& Trace() const { return trace_; }
    int Wow64Questions() const { return wow64Questions_; }

private:
    Texts stack_;
    Texts trace_;
    bool wow64_;
    int wow64Questions_ = 0;
};

const char* KindName(RegistryExport kind)
{
    switch (kind) {
    case RegistryExport::WriteValue: return "write";
    case RegistryExport::DeleteKey: return "DeleteRegKey";
    case RegistryExport::DeleteValue: return "DeleteRegValue";
    }
    return "?";
}

constexpr auto kWrite = RegistryExport::WriteValue;
constexpr auto kDeleteKey = RegistryExport::DeleteKey;
constexpr auto kDeleteValue = RegistryExport::DeleteValue;
constexpr auto kComplete = RegistryArguments::Complete;
constexpr auto kError = RegistryArguments::ParameterError;
constexpr auto kUnknownRoot = RegistryArguments::UnknownRoot;
const HKEY kNoRoot = nullptr;
const std::wstring kLong(kArgumentCapacity, L'k');     // one unit too many for the buffer
const std::wstring kFits(kArgumentCapacity - 1, L'k');  // exactly fills it

struct GrammarCase {
    const char* name;
    RegistryExport kind;
    bool wow64;
    Texts stack;
    RegistryArguments outcome;
    // Checked only for Complete:
    HKEY root;
    std::wstring subKey, valueName, data;
    bool want64, want32, ifEmpty;
    Texts left;  // what stays on the stack, checked for every outcome
};

TEST(ReadRegistryArguments, Grammar)
{
    const GrammarCase cases[] = {
        {"switches first", kWrite, true, {L"/x64", L"/x86", L"HKLM", L"Software\\A", L"Path", L"C:\\A", L"end", L"below"},
         kComplete, HKEY_LOCAL_MACHINE, L"Software\\A", L"Path", L"C:\\A", true, true, false, {L"below"}},
        {"switches between and after slots", kWrite, true, {L"HKCU", L"/x86", L"S", L"V", L"/X64", L"D", L"/x86", L"end"},
         kComplete, HKEY_CURRENT_USER, L"S", L"V", L"D", true, true, false, {}},
        {"a switch right before the end marker", kDeleteKey, false, {L"HKU", L"S", L"/ifempty", L"end", L"below"},
         kComplete, HKEY_USERS, L"S", L"", L"", false, false, true, {L"below"}},
        {"case of switches and roots", kDeleteValue, false, {L"/X86", L"hkcc", L"S", L"V", L"end"},
         kComplete, HKEY_CURRENT_CONFIG, L"S", L"V", L"", false, true, false, {}},
        {"hkcr", kDeleteKey, false, {L"HkCr", L"S", L"end"},
         kComplete, HKEY_CLASSES_ROOT, L"S", L"", L"", false, false, false, {}},
        {"no switch at all", kWrite, true, {L"HKLM", L"S", L"V", L"D", L"end"},
         kComplete, HKEY_LOCAL_MACHINE, L"S", L"V", L"D", false, false, false, {}},
        {"/x64 on 32-bit Windows is a text for the writes", kWrite, false, {L"/x64", L"HKLM", L"S", L"V", L"D", L"end"},
         kUnknownRoot, kNoRoot, L"", L"", L"", false, false, false, {L"HKLM", L"S", L"V", L"D", L"end"}},
        {"/x64 on 32-bit Windows fills a slot of a write", kWrite, false, {L"/x86", L"HKLM", L"/x64", L"V", L"D", L"end"},
         kComplete, HKEY_LOCAL_MACHINE, L"/x64", L"V", L"D", false, true, false, {}},
        {"/x64 on 32-bit Windows is a switch for the deletes", kDeleteKey, false, {L"/x64", L"HKLM", L"S", L"end"},
         kComplete, HKEY_LOCAL_MACHINE, L"S", L"", L"", true, false, false, {}},
        {"/ifempty is a text for DeleteRegValue", kDeleteValue, false, {L"/ifempty", L"HKLM", L"S", L"V", L"end"},
         kUnknownRoot, kNoRoot, L"", L"", L"", false, false, false, {L"HKLM", L"S", L"V", L"end"}},
        {"/ifempty is a text for the writes", kWrite, true, {L"HKLM", L"/ifempty", L"V", L"D", L"end"},
         kComplete, HKEY_LOCAL_MACHINE, L"/ifempty", L"V", L"D", false, false, false, {}},
        {"spelled-out root", kWrite, true, {L"/x86", L"HKEY_LOCAL_MACHINE", L"S", L"V", L"D", L"end"},
         kUnknownRoot, kNoRoot, L"", L"", L"", false, false, false, {L"S", L"V", L"D", L"end"}},
        {"root with a trailing blank", kDeleteKey, false, {L"HKLM ", L"S", L"end"},
         kUnknownRoot, kNoRoot, L"", L"", L"", false, false, false, {L"S", L"end"}},
        {"empty sub-key", kDeleteKey, false, {L"HKLM", L"", L"end"},
         kError, kNoRoot, L"", L"", L"", false, false, false, {L"end"}},
        {"empty data", kWrite, true, {L"/x86", L"HKLM", L"S", L"V", L"", L"end"},
         kError, kNoRoot, L"", L"", L"", false, false, false, {L"end"}},
        {"empty end marker", kWrite, true, {L"/x86", L"HKLM", L"S", L"V", L"D", L""},
         kError, kNoRoot, L"", L"", L"", false, false, false, {}},
        {"dry before the first text", kDeleteValue, true, {},
         kError, kNoRoot, L"", L"", L"", false, false, false, {}},
        {"dry after a trailing switch", kDeleteKey, true, {L"HKLM", L"S", L"/x86"},
         kError, kNoRoot, L"", L"", L"", false, false, false, {}},
        {"dry after only a switch", kWrite, true, {L"/x64"},
         kError, kNoRoot, L"", L"", L"", false, false, false, {}},
        {"dry after the root fills every slot with it", kDeleteKey, false, {L"/x86", L"HKLM"},
         kComplete, HKEY_LOCAL_MACHINE, L"HKLM", L"", L"", false, true, false, {}},
        {"dry after the root, write", kWrite, false, {L"/x86", L"hkcu"},
         kComplete, HKEY_CURRENT_USER, L"hkcu", L"hkcu", L"hkcu", false, true, false, {}},
        {"dry after the sub-key", kDeleteValue, false, {L"/x86", L"HKLM", L"S"},
         kComplete, HKEY_LOCAL_MACHINE, L"S", L"S", L"", false, true, false, {}},
        {"dry after the last slot", kWrite, true, {L"/x86", L"HKLM", L"S", L"V", L"D"},
         kComplete, HKEY_LOCAL_MACHINE, L"S", L"V", L"D", false, true, false, {}},
        {"texts below the end marker stay", kDeleteValue, false, {L"HKLM", L"S", L"V", L"end", L"/x86", L"more"},
         kComplete, HKEY_LOCAL_MACHINE, L"S", L"V", L"", false, false, false, {L"/x86", L"more"}},
        {"longest text that fits", kWrite, true, {L"/x86", L"HKLM", kFits, kFits, kFits, L"end"},
         kComplete, HKEY_LOCAL_MACHINE, kFits, kFits, kFits, false, true, false, {}},
        {"over-long sub-key", kWrite, true, {L"/x86", L"HKLM", kLong, L"V", L"D", L"end"},
         kError, kNoRoot, L"", L"", L"", false, false, false, {L"V", L"D", L"end"}},
        {"over-long data", kWrite, true, {L"/x86", L"HKLM", L"S", L"V", std::wstring(8191, L'1'), L"end"},
         kError, kNoRoot, L"", L"", L"", false, false, false, {L"end"}},
        {"over-long root", kDeleteKey, true, {L"HKLM" + kLong, L"S", L"end"},
         kError, kNoRoot, L"", L"", L"", false, false, false, {L"S", L"end"}},
        {"over-long end marker", kDeleteKey, true, {L"HKLM", L"S", kLong, L"below"},
         kError, kNoRoot, L"", L"", L"", false, false, false, {L"below"}},
    };
    for (const GrammarCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << " (" << KindName(c.kind) << ")");
        ScriptedArguments source(c.stack, c.wow64);
        RegistryRequest request;
        request.subKey = L"stale";  // a request is filled from scratch
        EXPECT_EQ(ReadRegistryArguments(c.kind, source, request), c.outcome);
        EXPECT_EQ(source.Stack(), c.left);
        if (c.outcome != kComplete) continue;
        EXPECT_EQ(request.root, c.root);
        EXPECT_EQ(request.subKey, c.subKey);
        EXPECT_EQ(request.valueName, c.valueName);
        EXPECT_EQ(request.data, c.data);
        EXPECT_EQ(request.want64, c.want64);
        EXPECT_EQ(request.want32, c.want32);
        EXPECT_EQ(request.ifEmpty, c.ifEmpty);
    }
}

struct TraceCase {
    const char* name;
    RegistryExport kind;
    bool wow64;
    Texts stack;
    Texts trace;
};

// The grammar's own trace; PopString adds each popped text in front of it.
TEST(ReadRegistryArguments, TraceTexts)
{
    const TraceCase cases[] = {
        {"write", kWrite, true, {L"/x64", L"/x86", L"HKLM", L"S", L"V", L"D", L"end"},
         {L"/x64", L"IN /x64", L"/x86", L"IN /x86", L"HKLM", L"IN 1", L"S", L"IN 1", L"/SUB ", L"V", L"IN 1", L"/Key ",
          L"D", L"IN 1", L"/Key ", L"end", L"IN 1"}},
        {"write, /x64 on 32-bit Windows", kWrite, false, {L"/x64", L"HKLM"},
         {L"/x64", L"IN 1"}},
        {"DeleteRegKey", kDeleteKey, false, {L"/ifempty", L"HKLM", L"S", L"/x64", L"end"},
         {L"/ifempty", L"IN /ifempty", L"HKLM", L"IN 1", L"S", L"IN 1", L"S", L"/SUB ", L"/x64", L"IN /x64",
          L"end", L"IN 1", L"end", L"/over "}},
        {"DeleteRegValue", kDeleteValue, true, {L"/x86", L"HKCU", L"S", L"V", L"end"},
         {L"/x86", L"IN /x86", L"HKCU", L"IN 1", L"S", L"IN 1", L"S", L"/SUB ", L"V", L"IN 1", L"V",
          L"end", L"IN 1", L"end"}},
        {"DeleteRegKey, dry after the root", kDeleteKey, false, {L"HKLM"},
         {L"HKLM", L"IN 1", L"HKLM", L"IN 1", L"HKLM", L"/SUB ", L"HKLM", L"IN 1", L"HKLM", L"/over "}},
        {"unknown root", kDeleteValue, false, {L"/x86", L"HKXX", L"S"},
         {L"/x86", L"IN /x86", L"HKXX", L"IN 1"}},
        {"empty text", kWrite, true, {L"HKLM", L"", L"V"},
         {L"HKLM", L"IN 1", L"", L"IN para error "}},
        {"dry from the start", kDeleteKey, true, {},
         {L"", L"IN para error "}},
        {"dry after a switch", kDeleteKey, true, {L"HKLM", L"/x86"},
         {L"HKLM", L"IN 1", L"/x86", L"IN /x86", L"/x86", L"IN para error "}},
        {"over-long text", kDeleteKey, true, {L"HKLM", kLong, L"end"},
         {L"HKLM", L"IN 1", L"IN para error "}},
    };
    for (const TraceCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedArguments source(c.stack, c.wow64);
        RegistryRequest request;
        ReadRegistryArguments(c.kind, source, request);
        EXPECT_EQ(source.Trace(), c.trace);
    }
}

// The 64-bit test is made for "/x64" given to a write export, at the moment
// it is read, and for nothing else.
TEST(ReadRegistryArguments, AsksForWow64OnlyForX64OfAWrite)
{
    ScriptedArguments write({L"/x64", L"/x86", L"HKLM", L"/x64", L"S", L"V", L"D", L"end"}, true);
    RegistryRequest request;
    ReadRegistryArguments(kWrite, write, request);
    EXPECT_EQ(write.Wow64Questions(), 2);

    ScriptedArguments remove({L"/x64", L"HKLM", L"S", L"end"}, false);
    ReadRegistryArguments(kDeleteKey, remove, request);
    EXPECT_EQ(remove.Wow64Questions(), 0);
}
}  // namespace
