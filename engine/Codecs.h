#pragma once
// Content-transfer codecs. They work on raw bytes and never raise: malformed
// input decodes to defined output (UUCharValue is the one exception, and
// UUDecodeLine always catches what it raises).
#include <cstddef>
#include <string>
#include <string_view>

[[nodiscard]] std::string QPDecodeText(std::string_view encoded);
// Appends the decoded bytes to out; the streaming form used for part bodies.
void QPDecodeAppend(std::string_view encoded, std::string& out);
[[nodiscard]] std::string QPEncodeText(std::string_view text, bool headerMode);
// Body-mode encoding appended to out (whose capacity is used first).
void QPEncodeBodyAppend(std::string_view text, std::string& out);

// Base64 decoding skips every character outside the alphabet (line breaks,
// blanks, junk), stops at the pad that ends the data, and gives the whole
// bytes of an unpadded last group.
// Decodes one piece of text into buffer, which holds at least three
// quarters of the text's length. Returns the bytes written.
std::size_t Base64DecodeToBuffer(std::string_view text, unsigned char* buffer);
// Decodes a whole text (a part body, any line layout) appended to out.
void Base64DecodeAppend(std::string_view text, std::string& out);
// Encodes source into dest as 76-character lines, each ended by CR LF.
std::size_t Base64EncodeStream(std::string& dest, std::string_view source);
// Decodes in place a text laid out as Base64EncodeStream writes it, the
// last line break there or not (finalBreak tells), so that encoding the
// bytes gives the text again. False, with the text unchanged, for any other
// text.
bool Base64DecodeInPlace(std::string& text, bool& finalBreak);
// Size Base64EncodeStream gives for a source of n bytes.
[[nodiscard]] std::size_t Base64EncodedSize(std::size_t n);

// Value 0..63 of a uuencode character; raises EMailError
// "UUCODE message format error" for any other character.
[[nodiscard]] int UUCharValue(char c);
// Decodes one uuencoded line into buffer (45 bytes). Returns the line's byte
// count, or 0 (buffer untouched) for an empty or invalid line.
std::size_t UUDecodeLine(std::string_view line, unsigned char* buffer);
// Decodes every uuencoded line of text (lines end at CR LF) into stream;
// other lines add nothing.
bool UUDecodeToStream(std::string_view text, std::string& stream);

// Walks a zero-terminated buffer line by line in place: the CR of each CR LF
// is replaced by a zero while the line is current and put back on the next
// call. start is -1 before the first call.
void NextBufferLine(char* buffer, std::size_t length, long long& start, bool& done, char*& line,
                    std::size_t& lineLength);
