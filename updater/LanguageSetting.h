#pragma once
#include <cstdint>

// The language identifier used when neither the user nor the machine names
// one: English (United States).
constexpr std::uint32_t kDefaultLanguageId = 1033;

// The language that the user's lookups use. A non-zero REG_DWORD LangId under
// the user's product key wins; otherwise the machine's, otherwise 1033, and
// the choice is then stored as the user's LangId, so that it stays put even
// if the machine's value changes later. Values of any other type or size
// count as not set.
std::uint32_t ResolveLanguageId();

// The decision alone: 0 stands for "not set".
constexpr std::uint32_t ChooseLanguageId(std::uint32_t user, std::uint32_t machine)
{
    return user != 0 ? user : machine != 0 ? machine : kDefaultLanguageId;
}
