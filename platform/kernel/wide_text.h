// UTF-16 text helpers for the layer, and the one place where UTF-16 meets the UTF-8 that Linux
// speaks.
//
// Linux file names are byte strings that need not be valid UTF-8. So that every name found on
// disk can be named again, bytes that are not valid UTF-8 become the lone surrogates
// U+DC80..U+DCFF on the way in and turn back into the same bytes on the way out. Any other
// unpaired surrogate becomes U+FFFD in UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "platform/kernel/win_types.h"

// Length in UTF-16 units up to the terminator, as wcslen; 0 for null.
std::size_t WideLength(LPCWSTR text);

// Ordinal comparison as wcscmp: negative, 0 or positive. Null counts as the empty string.
int WideCompare(LPCWSTR a, LPCWSTR b);

// Comparison that ignores the case of letters (simple one-to-one case folding), same sign rules.
int WideCompareNoCase(LPCWSTR a, LPCWSTR b);

std::string Utf16ToUtf8(std::u16string_view text);
// The same conversion appended to out, for callers that build a path piece by piece.
void AppendUtf16AsUtf8(std::string& out, std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// Simple case mapping of one UTF-16 unit (letters of the Basic Multilingual Plane).
WCHAR WideToUpper(WCHAR c);
WCHAR WideToLower(WCHAR c);
