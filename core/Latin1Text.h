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

// One character of a text being walked: a well-formed UTF-8 character, or
// a single byte (one that begins no UTF-8 character is Broken).
struct TTextChar {
    char32_t Char = 0;
    size_t Length = 1;
    bool Broken = false;

    // A control code (C0, DEL, C1) or a broken byte: nothing to show on a
    // terminal or put into a file name as it is.
    bool Control() const {
        return Broken || Char < 0x20 || Char == 0x7F || (Char >= 0x80 && Char < 0xA0);
    }
};
// The character at Text[At], read as UTF-8 when Utf8, else the byte alone.
TTextChar TextCharAt(std::string_view Text, size_t At, bool Utf8 = true);
