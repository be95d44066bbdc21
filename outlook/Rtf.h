#pragma once
// Outlook's RTF bodies: the compressed form they are stored in, the HTML
// that an RTF body may carry for a message written in HTML, and the text a
// reader sees in any RTF body.
#include <cstdint>
#include <string>
#include <string_view>

// Decompresses a PR_RTF_COMPRESSED value ("LZFu", or "MELA" stored
// uncompressed). Damaged input gives what could be read; the output is
// never larger than the header claims nor than the input could expand to.
// At most limit bytes are made (enough to tell what the RTF holds).
[[nodiscard]] std::string DecompressRtf(std::string_view stored, std::size_t limit = SIZE_MAX);
// Whether the RTF carries a whole HTML document (\fromhtml1).
[[nodiscard]] bool RtfHasHtml(std::string_view rtf);
// The HTML carried in such RTF, as UTF-8.
[[nodiscard]] std::string RtfToHtml(std::string_view rtf);
// The text a reader sees in the RTF, as UTF-8, paragraphs ending in "\r\n".
[[nodiscard]] std::string RtfToText(std::string_view rtf);
