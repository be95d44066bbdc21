#pragma once
// Operations on unfolded header lines ("Name: main value; param=value") and
// on encoded words (RFC 2047). Only the double quote protects ":", ";" and
// "="; none of these operations raises.
#include "TextUtils.h"

#include <string>
#include <string_view>

[[nodiscard]] std::string DecodeHeaderWords(std::string_view text);
[[nodiscard]] std::string EncodeHeaderWord(std::string_view text, std::string_view charset);
[[nodiscard]] std::string CanonicalHeaderLine(std::string_view line);
[[nodiscard]] std::string GetHeaderMainValue(std::string_view line);
// The main value as it stands in the line: neither trimmed nor unquoted.
[[nodiscard]] std::string_view HeaderMainValueView(std::string_view line);
[[nodiscard]] std::string SetHeaderMainValue(std::string_view line, std::string_view value);
[[nodiscard]] std::string GetHeaderParam(std::string_view line, std::string_view name);
[[nodiscard]] std::string SetHeaderParam(std::string_view line, std::string_view name, std::string_view value);
// Index of the occurrence-th line (from 0) that begins with prefix, compared
// without regard to ASCII case; -1 when there is none or no list.
[[nodiscard]] int FindHeaderLine(const TStringList* list, std::string_view prefix, int occurrence);
