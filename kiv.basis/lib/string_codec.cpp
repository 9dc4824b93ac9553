#include "kiv.basis/lib/string_codec.h"

#include <windows.h>

#include <cstring>

#include "kiv.basis/lib/string.h"

KivText::~KivText() {
    Reset();
}

void KivText::Reset() {
    KivMemFree(owned);
    owned = nullptr;
    data = "";
    bytes = 0;
}

bool KivViewString(const _String* string, KivText* out) {
    out->Reset();
    if (string == nullptr || !KivIsSupportedCodePage(string->code_page)) {
        return false;
    }
    out->code_page = string->code_page;
    if (string->data != nullptr) {
        out->data = string->data;
        out->bytes = string->ContentBytes();
    } else {
        out->data = string->code_page == kCodePageUtf16 ? "\0" : "";
    }
    return true;
}

bool KivViewBytes(const char* text, uint32_t code_page, KivText* out) {
    out->Reset();
    if (!KivIsSupportedCodePage(code_page) || code_page == kCodePageUtf16) {
        return false;
    }
    out->code_page = code_page;
    if (text != nullptr) {
        const size_t length = std::strlen(text);
        if (length >= 0x7FFFFFFFu) {
            return false;
        }
        out->data = text;
        out->bytes = static_cast<uint32_t>(length);
    }
    return true;
}

namespace {

// A terminated kiv.memory buffer of bytes + 2 zero bytes.
char* NewBuffer(uint64_t bytes) {
    return KivAllocBuffer<char>(bytes + 2, "char");
}

bool Adopt(char* buffer, uint32_t bytes, uint32_t code_page, KivText* out) {
    out->Reset();
    out->owned = buffer;
    out->data = buffer;
    out->bytes = bytes;
    out->code_page = code_page;
    return true;
}

bool ToUtf16(const KivText& text, KivText* out) {
    if (text.bytes == 0) {
        char* buffer = NewBuffer(0);
        return buffer != nullptr && Adopt(buffer, 0, kCodePageUtf16, out);
    }
    if (text.bytes > 0x3FFFFFFFu) {
        return false;
    }
    const UINT cp = text.code_page == kCodePageUtf8 ? CP_UTF8 : text.code_page;
    const DWORD flags = text.code_page == kCodePageUtf8 ? 0 : MB_USEGLYPHCHARS;
    const int units =
        MultiByteToWideChar(cp, flags, text.data, static_cast<int>(text.bytes), nullptr, 0);
    if (units <= 0) {
        return false;
    }
    char* buffer = NewBuffer(static_cast<uint64_t>(units) * 2);
    if (buffer == nullptr) {
        return false;
    }
    MultiByteToWideChar(cp, flags, text.data, static_cast<int>(text.bytes),
                        reinterpret_cast<wchar_t*>(buffer), units);
    return Adopt(buffer, static_cast<uint32_t>(units) * 2, kCodePageUtf16, out);
}

bool FromUtf16(const KivText& text, uint32_t to, KivText* out) {
    const int units = static_cast<int>(text.bytes / 2);
    if (units == 0) {
        char* buffer = NewBuffer(0);
        return buffer != nullptr && Adopt(buffer, 0, to, out);
    }
    const UINT cp = to == kCodePageUtf8 ? CP_UTF8 : to;
    const DWORD flags = to == kCodePageUtf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data);
    const int bytes = WideCharToMultiByte(cp, flags, wide, units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return false;
    }
    char* buffer = NewBuffer(static_cast<uint64_t>(bytes));
    if (buffer == nullptr) {
        return false;
    }
    WideCharToMultiByte(cp, flags, wide, units, buffer, bytes, nullptr, nullptr);
    return Adopt(buffer, static_cast<uint32_t>(bytes), to, out);
}

}  // namespace

bool KivConvert(const KivText& text, uint32_t to, KivText* out) {
    if (!KivIsSupportedCodePage(text.code_page) || !KivIsSupportedCodePage(to)) {
        return false;
    }
    if (text.code_page == to) {
        char* buffer = NewBuffer(text.bytes);
        if (buffer == nullptr) {
            return false;
        }
        std::memcpy(buffer, text.data, text.bytes);
        return Adopt(buffer, text.bytes, to, out);
    }
    if (text.code_page == kCodePageUtf16) {
        return FromUtf16(text, to, out);
    }
    if (to == kCodePageUtf16) {
        return ToUtf16(text, out);
    }
    KivText wide;  // between two 8-bit encodings through a temporary UTF-16 text
    return ToUtf16(text, &wide) && FromUtf16(wide, to, out);
}

bool KivConvertInPlace(KivText* text, uint32_t to) {
    if (text->code_page == to) {
        return true;
    }
    KivText converted;
    if (!KivConvert(*text, to, &converted)) {
        return false;
    }
    text->Reset();
    text->owned = converted.owned;
    text->data = converted.data;
    text->bytes = converted.bytes;
    text->code_page = converted.code_page;
    converted.owned = nullptr;
    return true;
}

bool KivOwnText(KivText* text) {
    if (text->owned != nullptr) {
        return true;
    }
    KivText copy;
    if (!KivConvert(*text, text->code_page, &copy)) {
        return false;
    }
    text->owned = copy.owned;
    text->data = copy.data;
    text->bytes = copy.bytes;
    copy.owned = nullptr;
    return true;
}

uint32_t KivUnitSize(uint32_t code_page) {
    return code_page == kCodePageUtf16 ? 2 : 1;
}

uint32_t KivCharCount(const char* data, uint32_t bytes, uint32_t code_page) {
    switch (code_page) {
        case kCodePageUtf16:
            return bytes / 2;
        case kCodePageCyrillic:
        case kCodePageLatin1:
            return bytes;
        case kCodePageUtf8: {
            uint32_t count = 0;
            for (uint32_t i = 0; i < bytes; ++i) {
                const uint8_t byte = static_cast<uint8_t>(data[i]);
                if (byte < 0x80 || byte > 0xBF) {
                    ++count;
                }
            }
            return count;
        }
        default:
            return 0;
    }
}

uint32_t KivNextChar(const char* data, uint32_t bytes, uint32_t code_page, uint32_t offset) {
    if (offset >= bytes) {
        return bytes;
    }
    if (code_page == kCodePageUtf16) {
        return offset + 2 <= bytes ? offset + 2 : bytes;
    }
    if (code_page != kCodePageUtf8) {
        return offset + 1;
    }
    ++offset;
    while (offset < bytes && static_cast<uint8_t>(data[offset]) >= 0x80 &&
           static_cast<uint8_t>(data[offset]) <= 0xBF) {
        ++offset;
    }
    return offset;
}

uint32_t KivCharToByte(const char* data, uint32_t bytes, uint32_t code_page, uint32_t index) {
    if (code_page == kCodePageUtf16) {
        return index <= bytes / 2 ? index * 2 : bytes & ~1u;
    }
    if (code_page != kCodePageUtf8) {
        return index < bytes ? index : bytes;
    }
    uint32_t offset = 0;
    for (uint32_t i = 0; i < index && offset < bytes; ++i) {
        offset = KivNextChar(data, bytes, code_page, offset);
    }
    return offset;
}
