// Byte-level helpers of XString: views on string contents, conversions
// between the four supported encodings through the system's code-page
// functions, and character/byte offset arithmetic.
#pragma once

#include <cstdint>

class _String;

// Contents without terminator: a view on a string, or an owned conversion
// (a kiv.memory buffer, always terminated, freed with the Text).
struct KivText {
    KivText() = default;
    KivText(const KivText&) = delete;
    KivText& operator=(const KivText&) = delete;
    ~KivText();
    void Reset();

    const char* data = "";
    uint32_t bytes = 0;
    uint32_t code_page = 0;
    char* owned = nullptr;
};

// A view on a raw string's contents; false for an unsupported code page.
bool KivViewString(const _String* string, KivText* out);
// A view on 8-bit text in the given code page.
bool KivViewBytes(const char* text, uint32_t code_page, KivText* out);
// Converts text into another supported encoding (a copy when equal).
bool KivConvert(const KivText& text, uint32_t to_code_page, KivText* out);
// Brings text to to_code_page in place.
bool KivConvertInPlace(KivText* text, uint32_t to_code_page);

// Makes a view an owned copy (no change for owned text).
bool KivOwnText(KivText* text);

// Character arithmetic over bytes of one encoding.
uint32_t KivUnitSize(uint32_t code_page);
uint32_t KivCharCount(const char* data, uint32_t bytes, uint32_t code_page);
// Byte offset of character index (clamped to bytes).
uint32_t KivCharToByte(const char* data, uint32_t bytes, uint32_t code_page, uint32_t index);
// Byte offset of the character boundary after the one at offset.
uint32_t KivNextChar(const char* data, uint32_t bytes, uint32_t code_page, uint32_t offset);
