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
// The same in place; a line already in that form is not copied.
void CanonicaliseHeaderLine(std::string& line);
[[nodiscard]] std::string GetHeaderMainValue(std::string_view line);
// The main value as it stands in the line: neither trimmed nor unquoted.
[[nodiscard]] std::string_view HeaderMainValueView(std::string_view line);
[[nodiscard]] std::string SetHeaderMainValue(std::string_view line, std::string_view value);
// SetHeaderMainValue and SetHeaderParam on the line itself, which keeps its
// storage where it has room.
void ReplaceHeaderMainValue(std::string& line, std::string_view value);
void ReplaceHeaderParam(std::string& line, std::string_view name, std::string_view value);
[[nodiscard]] std::string GetHeaderParam(std::string_view line, std::string_view name);
// GetHeaderParam's value without a copy: a view into the line, or into
// storage when the value had to be pieced together.
[[nodiscard]] std::string_view HeaderParamView(std::string_view line, std::string_view name, std::string& storage);
// Whether GetHeaderParam gives more than blanks.
[[nodiscard]] bool HeaderParamPresent(std::string_view line, std::string_view name);
[[nodiscard]] std::string SetHeaderParam(std::string_view line, std::string_view name, std::string_view value);
// The value of an RFC 2231 parameter (name*=charset'language'text with
// "%XX" escapes, or continued as name*0*=, name*1*=, name*0=, ...), the
// escapes made bytes and the sections joined. The charset and language are
// carried, not applied. False when the line has no such form of the name.
bool GetHeaderParamExtended(std::string_view line, std::string_view name, std::string& value,
                            std::string* charset = nullptr, std::string* language = nullptr);
// A parameter field written without its ";" separators
// ("Content-Type: multipart/mixed boundary=\"b\"", "text/plain
// charset=utf-8 format=flowed") with them put in, before each blank-separated
// name=value that follows a value; any other line comes back unchanged.
[[nodiscard]] std::string WithParamSeparators(std::string_view line);
// A media type as RFC 2045 writes it: a token, "/", a token.
[[nodiscard]] bool IsMediaType(std::string_view type);
// Index of the occurrence-th line (from 0) that begins with prefix, compared
// without regard to ASCII case; -1 when there is none or no list.
[[nodiscard]] int FindHeaderLine(const TStringList* list, std::string_view prefix, int occurrence);
