// A seeded random driver of NSIS stacks against the plug-in's argument
// handling: PopString at every buffer edge with guard units around the
// buffer, SetResult at every slot size with the neighbouring slots watched,
// the registry argument grammar against a small reference reading of its
// rules, and the decimal and hexadecimal conversions against independent
// readings. Every failure prints the random seed it ran with; QUILLON_FUZZ_SEED
// replays another one.
#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

#include "CallFrame.h"
#include "EqualsNoCase.h"
#include "NsisHost.h"
#include "RegistryData.h"
#include "RegistryStackArguments.h"
#include "TestPaths.h"
#include "Wow64.h"

namespace {
using Texts = std::vector<std::wstring>;

std::uint32_t Seed()
{
    const std::wstring text = Environment(L"QUILLON_FUZZ_SEED");
    return text.empty() ? 20261210u : static_cast<std::uint32_t>(std::wcstoul(text.c_str(), nullptr, 10));
}

class Fuzzer {
public:
    explicit Fuzzer(std::uint32_t seed) : random_(seed) {}

    std::size_t Below(std::size_t limit) { return std::uniform_int_distribution<std::size_t>(0, limit - 1)(random_); }
    bool OneIn(std::size_t n) { return Below(n) == 0; }
    template <typename T>
    const T& Pick(const std::vector<T>& choices) { return choices[Below(choices.size())]; }

    // A length near one of the edges the plug-in and NSIS care about.
    std::size_t EdgeLength()
    {
        static const std::vector<std::size_t> edges = {0, 1, 2, 259, 260, 261, 1022, 1023, 1024, 1025, 8191, 8192};
        const std::size_t edge = Pick(edges);
        return OneIn(4) ? Below(40) : edge;
    }
    std::wstring TextOf(std::size_t length, const wchar_t* alphabet)
    {
        const std::size_t size = std::wcslen(alphabet);
        std::wstring text(length, L'a');
        for (wchar_t& unit : text) unit = alphabet[Below(size)];
        return text;
    }
    std::wstring AnyText(std::size_t length)
    {
        // Letters, digits, separators, a non-ASCII letter and a lone surrogate.
        return TextOf(length, L"abcXYZ019-/\\ .\u00e9\u0131\xD800");
    }
    std::wstring DecimalText()
    {
        std::wstring text = OneIn(3) ? L"-" : L"";
        text += TextOf(Below(19), L"0123456789");
        if (OneIn(2)) text += TextOf(1 + Below(3), L"x -+a\uff11");
        return text;
    }
    std::wstring HexText()
    {
        std::wstring text = TextOf(Below(24), L"0123456789abcdefABCDEF");
        if (OneIn(4)) text.insert(Below(text.size() + 1), 1, static_cast<wchar_t>(Pick(std::vector<wchar_t>{L'g', L' ', L'-', L'x', L'\uff10'})));
        return text;
    }

private:
    std::mt19937 random_;
};

std::string Where(std::uint32_t seed, int round)
{
    return "seed " + std::to_string(seed) + ", round " + std::to_string(round);
}

// Records the host's frame as an export does at its start.
void Enter(NsisHost& host)
{
    RecordCallContext(nullptr, host.StringSize(), host.Variables(), reinterpret_cast<NsisStackNode**>(host.StackTop()));
}

TEST(ArgumentFuzz, PopStringNeverWritesPastItsBufferAndCutsOnlyAsItSays)
{
    const std::uint32_t seed = Seed();
    Fuzzer fuzz(seed);
    constexpr std::size_t kGuard = 16;
    constexpr wchar_t kGuardUnit = 0xFDFD;
    const std::vector<std::size_t> capacities = {1, 2, 3, 260, 1022, 1023, 1024, 1025, 8192};
    for (int round = 0; round < 3000; ++round) {
        NsisHost host(fuzz.OneIn(2) ? 1024 : 8192);
        const std::wstring text = fuzz.AnyText(fuzz.EdgeLength());
        host.PushUnbounded(L"below");
        // Pushed as NSIS pushes (cut to the slot) or by a host with larger slots.
        if (fuzz.OneIn(2)) host.Push(text); else host.PushUnbounded(text);
        const std::wstring pushed = host.Stack().front();
        Enter(host);

        const std::size_t capacity = fuzz.Pick(capacities);
        std::vector<wchar_t> memory(capacity + 2 * kGuard, kGuardUnit);
        wchar_t* buffer = memory.data() + kGuard;
        const PopResult result = PopString(buffer, capacity);

        const std::string where = Where(seed, round) + ", capacity " + std::to_string(capacity) + ", length " +
                                  std::to_string(pushed.size());
        for (std::size_t i = 0; i < kGuard; ++i) {
            ASSERT_EQ(memory[i], kGuardUnit) << "written before the buffer, " << where;
            ASSERT_EQ(memory[kGuard + capacity + i], kGuardUnit) << "written past the buffer, " << where;
        }
        const bool fits = pushed.size() < capacity;
        EXPECT_EQ(result, fits ? PopResult::Popped : PopResult::TooLong) << where;
        EXPECT_EQ(std::wstring(buffer), pushed.substr(0, fits ? pushed.size() : capacity - 1)) << where;
        EXPECT_EQ(host.Stack(), Texts{L"below"}) << where;
        ASSERT_TRUE(host.Leaked().empty()) << where;
    }
}

TEST(ArgumentFuzz, SetResultFillsOnlyR0CutToTheSlot)
{
    const std::uint32_t seed = Seed();
    Fuzzer fuzz(seed);
    for (int round = 0; round < 600; ++round) {
        const int stringSize = static_cast<int>(fuzz.Pick(std::vector<std::size_t>{2, 16, 1024, 8192}));
        NsisHost host(stringSize);
        std::vector<wchar_t> before(host.Variables(), host.Variables() + stringSize * 25);
        for (wchar_t& unit : before) unit = static_cast<wchar_t>(L'A' + fuzz.Below(26));
        std::copy(before.begin(), before.end(), host.Variables());
        Enter(host);

        const std::wstring text = fuzz.AnyText(fuzz.OneIn(3) ? static_cast<std::size_t>(stringSize) - fuzz.Below(2) + fuzz.Below(3)
                                                             : fuzz.EdgeLength());
        SetResult(text.c_str());

        const std::string where = Where(seed, round) + ", slot " + std::to_string(stringSize) + ", length " +
                                  std::to_string(text.size());
        const std::size_t cut = std::min(text.size(), static_cast<std::size_t>(stringSize) - 1);
        EXPECT_EQ(host.R0(), text.substr(0, cut)) << where;
        const wchar_t* after = host.Variables();
        for (std::size_t i = 0; i < before.size(); ++i) {
            const std::size_t slot = i / stringSize, at = i % stringSize;
            if (slot == 10 && at <= cut) continue;  // R0's text and terminator
            ASSERT_EQ(after[i], before[i]) << "unit " << at << " of slot " << slot << " changed, " << where;
        }
    }
}

// The grammar as the README states it, read independently of the plug-in:
// switches anywhere (/x86; /x64 except for a write on 32-bit Windows;
// /ifempty for DeleteRegKey only), then a root among five names, the slots
// of the export, and a non-empty end marker. An empty or over-long text is a
// parameter error; a stack that runs dry reads the last text again.
struct Reading {
    enum Outcome { Complete, ParameterError, UnknownRoot } outcome = ParameterError;
    HKEY root = nullptr;
    Texts slots;
    bool want32 = false, want64 = false, ifEmpty = false;
    std::size_t popped = 0;
};

Reading ReferenceReading(RegistryExport kind, const Texts& stack, bool windows64)
{
    static const std::vector<std::pair<const wchar_t*, HKEY>> roots = {
        {L"HKLM", HKEY_LOCAL_MACHINE}, {L"HKCU", HKEY_CURRENT_USER}, {L"HKU", HKEY_USERS},
        {L"HKCC", HKEY_CURRENT_CONFIG}, {L"HKCR", HKEY_CLASSES_ROOT}};
    const std::size_t slotCount = kind == RegistryExport::WriteValue ? 3 : kind == RegistryExport::DeleteValue ? 2 : 1;
    Reading reading;
    std::wstring last;
    for (;;) {
        const bool dry = reading.popped == stack.size();
        if (!dry) {
            last = stack[reading.popped++];
            if (last.size() >= kArgumentCapacity) return reading;
        }
        bool* flag = nullptr;
        if (EqualsNoCase(last.c_str(), L"/x86")) flag = &reading.want32;
        else if (EqualsNoCase(last.c_str(), L"/x64") && (kind != RegistryExport::WriteValue || windows64)) flag = &reading.want64;
        else if (EqualsNoCase(last.c_str(), L"/ifempty") && kind == RegistryExport::DeleteKey) flag = &reading.ifEmpty;
        if (flag) {
            if (dry) return reading;
            *flag = true;
            continue;
        }
        if (last.empty()) return reading;
        if (!reading.root) {
            for (const auto& entry : roots)
                if (EqualsNoCase(last.c_str(), entry.first)) reading.root = entry.second;
            if (!reading.root) {
                reading.outcome = Reading::UnknownRoot;
                return reading;
            }
            continue;
        }
        if (reading.slots.size() < slotCount) {
            reading.slots.push_back(last);
            continue;
        }
        reading.outcome = Reading::Complete;
        return reading;
    }
}

TEST(ArgumentFuzz, RegistryGrammarAgreesWithAReferenceReadingOfItsRules)
{
    const std::uint32_t seed = Seed();
    Fuzzer fuzz(seed);
    const bool windows64 = Is64BitWindows();
    const std::vector<std::wstring> tokens = {
        L"/x86", L"/X86", L"/x64", L"/X64", L"/ifempty", L"/IFEMPTY", L"/x32", L"x86", L"HKLM", L"hkcu", L"Hku",
        L"HKCC", L"hkcr", L"HKEY_LOCAL_MACHINE", L"HKLM ", L"HK\u0130M", L"", L"end", L"Software\\Q", L"Value"};
    const std::vector<RegistryExport> kinds = {RegistryExport::WriteValue, RegistryExport::DeleteKey,
                                               RegistryExport::DeleteValue};
    int outcomes[3] = {};
    for (int round = 0; round < 10000; ++round) {
        const RegistryExport kind = fuzz.Pick(kinds);
        auto anyArgument = [&]() -> std::wstring {
            switch (fuzz.Below(6)) {
            case 0: return fuzz.AnyText(fuzz.EdgeLength());
            case 1: return fuzz.DecimalText();
            case 2: return fuzz.HexText();
            default: return fuzz.Pick(tokens);
            }
        };
        Texts stack;  // top first
        if (fuzz.OneIn(2)) {
            // A call as a script writes it, switches strewn in, then one text
            // replaced or dropped at random.
            const std::size_t slots = kind == RegistryExport::WriteValue ? 3 : kind == RegistryExport::DeleteValue ? 2 : 1;
            stack.push_back(fuzz.Pick(std::vector<std::wstring>{L"HKLM", L"hkcu", L"HKU", L"HkCc", L"HKCR"}));
            for (std::size_t i = 0; i < slots; ++i) stack.push_back(fuzz.AnyText(1 + fuzz.EdgeLength()));
            stack.push_back(L"end");
            for (std::size_t i = fuzz.Below(3); i > 0; --i)
                stack.insert(stack.begin() + fuzz.Below(stack.size()), fuzz.Pick(tokens));
            if (fuzz.OneIn(2)) {
                const std::size_t at = fuzz.Below(stack.size());
                if (fuzz.OneIn(2)) stack[at] = anyArgument(); else stack.erase(stack.begin() + at);
            }
            for (std::size_t i = fuzz.Below(3); i > 0; --i) stack.push_back(anyArgument());
        } else {
            for (std::size_t i = fuzz.Below(9); i > 0; --i) stack.push_back(anyArgument());
        }
        NsisHost host(fuzz.OneIn(4) ? 8192 : 1024);
        for (auto text = stack.rbegin(); text != stack.rend(); ++text) host.PushUnbounded(*text);
        host.SetVariable(10, L"keep");
        Enter(host);

        RegistryRequest request;
        const bool complete = ReadRegistryArgumentsFromStack(kind, request);
        const Reading expected = ReferenceReading(kind, stack, windows64);
        ++outcomes[expected.outcome];

        const std::string where = Where(seed, round) + ", " + std::to_string(stack.size()) + " texts, kind " +
                                  std::to_string(static_cast<int>(kind));
        ASSERT_EQ(complete, expected.outcome == Reading::Complete) << where;
        // Only the parameter error answers; an unknown root leaves $R0 alone.
        EXPECT_EQ(host.R0(), expected.outcome == Reading::ParameterError ? L"0" : L"keep") << where;
        EXPECT_EQ(host.Stack(), Texts(stack.begin() + expected.popped, stack.end())) << where;
        ASSERT_TRUE(host.Leaked().empty()) << where;
        if (!complete) continue;
        EXPECT_EQ(request.root, expected.root) << where;
        EXPECT_EQ(request.want32, expected.want32) << where;
        EXPECT_EQ(request.want64, expected.want64) << where;
        EXPECT_EQ(request.ifEmpty, expected.ifEmpty) << where;
        Texts slots = {request.subKey};
        if (kind != RegistryExport::DeleteKey) slots.push_back(request.valueName);
        if (kind == RegistryExport::WriteValue) slots.push_back(request.data);
        EXPECT_EQ(slots, expected.slots) << where;
    }
    // The driver itself must reach every outcome often, or it tests little.
    for (int outcome : outcomes) EXPECT_GT(outcome, 500) << "seed " << seed;
}

TEST(ArgumentFuzz, ConversionsAgreeWithIndependentReadings)
{
    const std::uint32_t seed = Seed();
    Fuzzer fuzz(seed);
    for (int round = 0; round < 20000; ++round) {
        const std::string where = Where(seed, round);

        // At most 18 digits fit an unsigned 64-bit number, whose low 32 bits
        // are the wrapped value.
        const std::wstring decimal = fuzz.DecimalText();
        const bool negative = !decimal.empty() && decimal[0] == L'-';
        std::size_t digits = negative ? 1 : 0;
        while (digits < decimal.size() && decimal[digits] >= L'0' && decimal[digits] <= L'9') ++digits;
        const std::wstring digitText = decimal.substr(negative ? 1 : 0, digits - (negative ? 1 : 0));
        const auto magnitude = static_cast<DWORD>(digitText.empty() ? 0 : std::wcstoull(digitText.c_str(), nullptr, 10));
        EXPECT_EQ(ParseDecimal(decimal), negative ? 0u - magnitude : magnitude) << "'" << decimal << "', " << where;

        const std::wstring hex = fuzz.HexText();
        std::vector<BYTE> bytes;
        bool valid = true;
        for (std::size_t at = 0; at < hex.size() && valid; at += 2) {
            std::wstring pair = hex.substr(at, 2);
            if (pair.size() == 1) pair += L'0';
            // The C library takes signs, blanks, "0x" and other scripts' digits;
            // the plug-in takes none of them, so each unit is checked first.
            for (wchar_t unit : pair) valid = valid && unit != 0 && std::wcschr(L"0123456789abcdefABCDEF", unit);
            bytes.push_back(static_cast<BYTE>(std::wcstoul(pair.c_str(), nullptr, 16)));
        }
        if (!valid) bytes.clear();
        EXPECT_EQ(HexDecode(hex), bytes) << "'" << hex << "', " << where;
    }
}
}  // namespace
