#pragma once

// ID3v1 text is one byte per character in ISO-8859-1, the way every tag
// reader decodes it. Terminals and command lines speak UTF-8; these two
// convert between them.

#include <cstddef>
#include <string>
#include <string_view>

// Each character of Utf8 as its ISO-8859-1 byte. A character outside
// ISO-8859-1, and each byte that does not belong to a well-formed UTF-8
// sequence, becomes "?"; Lost (when given) is then set to true.
std::string Utf8ToLatin1(std::string_view Utf8, bool* Lost = nullptr);

// The UTF-8 form of ISO-8859-1 bytes; every byte is a character.
std::string Latin1ToUtf8(std::string_view Latin1);

// The length in bytes of the well-formed UTF-8 character that begins at
// Text[At], which Char is then set to; 0 when the byte there begins none.
size_t Utf8CharAt(std::string_view Text, size_t At, char32_t& Char);
