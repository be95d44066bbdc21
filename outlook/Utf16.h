#pragma once
// Text of Outlook files into UTF-8: UTF-16LE strings, and 8-bit strings in
// a Windows code page (through iconv).
#include <cstdint>
#include <string>
#include <string_view>

// Unpaired surrogates become U+FFFD; a last odd byte is dropped.
[[nodiscard]] std::string Utf16LeToUtf8(std::string_view bytes);
void AppendUtf8(std::string& out, std::uint32_t codePoint);
// The iconv name of a Windows code page number ("CP1252", "UTF-8", ...).
[[nodiscard]] std::string CodePageCharset(int codePage);
// 8-bit text in the code page (0: Windows-1252) as UTF-8. Bytes the code
// page does not map, or a code page iconv does not know, are read as
// Windows-1252, so no text is lost.
[[nodiscard]] std::string CodePageToUtf8(int codePage, std::string_view bytes);
[[nodiscard]] bool IsUtf8(std::string_view bytes);
