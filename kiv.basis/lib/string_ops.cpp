// XString: search, comparison, replacement, substrings, case mapping, split
// and trim. Two operands are brought to one encoding before bytes are
// compared; a 1251 string and a 1252 string are never compared.
#include <cstring>
#include <locale>
#include <stdexcept>

#include "kiv.basis/lib/string.h"
#include "kiv.basis/lib/string_codec.h"

_String* KivNewString(const KivText& text);
_String* KivEmptyString(uint32_t code_page);

namespace {

constexpr int kNotFound = -1;

// The encoding two strings are compared in; 0 when they cannot be.
uint32_t CommonCodePage(uint32_t a, uint32_t b) {
    if (!KivIsSupportedCodePage(a) || !KivIsSupportedCodePage(b)) {
        return 0;
    }
    if (a == kCodePageUtf16 || b == kCodePageUtf16) {
        return kCodePageUtf16;
    }
    if (a == kCodePageUtf8 || b == kCodePageUtf8) {
        return kCodePageUtf8;
    }
    return a == b ? a : 0;
}

// Both strings as views in their common encoding.
bool Common(XString& self, const XString& other, KivText* mine, KivText* theirs) {
    XString& other_mut = const_cast<XString&>(other);
    if (!KivViewString(self.get_Object(), mine) || !KivViewString(other_mut.get_Object(), theirs)) {
        return false;
    }
    const uint32_t common = CommonCodePage(mine->code_page, theirs->code_page);
    return common != 0 && KivConvertInPlace(mine, common) && KivConvertInPlace(theirs, common);
}

bool MatchAt(const KivText& text, uint32_t offset, const KivText& what) {
    return what.bytes > 0 && offset <= text.bytes && what.bytes <= text.bytes - offset &&
           std::memcmp(text.data + offset, what.data, what.bytes) == 0;
}

// First match at a character boundary at or after byte offset from.
int64_t FindFrom(const KivText& text, uint32_t from, const KivText& what) {
    for (uint32_t at = from; at < text.bytes;
         at = KivNextChar(text.data, text.bytes, text.code_page, at)) {
        if (MatchAt(text, at, what)) {
            return at;
        }
    }
    return -1;
}

// Last match that ends at or before byte offset end.
int64_t FindLastBefore(const KivText& text, uint32_t end, const KivText& what) {
    int64_t found = -1;
    for (uint32_t at = 0; at < text.bytes && what.bytes <= end && at <= end - what.bytes;
         at = KivNextChar(text.data, text.bytes, text.code_page, at)) {
        if (MatchAt(text, at, what)) {
            found = at;
        }
    }
    return found;
}

int CharIndex(const KivText& text, int64_t offset) {
    if (offset < 0) {
        return kNotFound;
    }
    return static_cast<int>(KivCharCount(text.data, static_cast<uint32_t>(offset), text.code_page));
}

// A new string under construction in one encoding.
class Builder {
  public:
    Builder(uint32_t code_page, uint64_t capacity)
        : handle_(capacity > 0x7FFFFF00u ? 0x7FFFFF00u : static_cast<uint32_t>(capacity)) {
        target_ = handle_.get_Object();
        ok_ = target_ != nullptr && target_->SetBytes("", 0, code_page);
    }
    void Add(const char* bytes, uint32_t count) { ok_ = ok_ && target_->AppendBytes(bytes, count); }
    _String* Finish(uint32_t code_page) {
        return ok_ ? handle_.Detach() : KivEmptyString(code_page);
    }

  private:
    XString handle_;
    _String* target_;
    bool ok_;
};

enum class ReplaceMode { kAll, kFirst, kLast };

_String* ReplaceImpl(XString& self, const XString& from, const XString& to, uint32_t start,
                     ReplaceMode mode, uint32_t last_position) {
    KivText text, old_text, new_text;
    if (!KivViewString(self.get_Object(), &text)) {
        return KivEmptyString(KivSystemCodePage());
    }
    XString& from_mut = const_cast<XString&>(from);
    XString& to_mut = const_cast<XString&>(to);
    const uint32_t cp = text.code_page;
    if (!KivViewString(from_mut.get_Object(), &old_text) ||
        !KivViewString(to_mut.get_Object(), &new_text) || !KivConvertInPlace(&old_text, cp) ||
        !KivConvertInPlace(&new_text, cp)) {
        return KivEmptyString(cp);
    }
    if (old_text.bytes == 0) {
        return KivNewString(text);  // nothing to look for: an unchanged copy
    }
    uint64_t capacity = uint64_t{text.bytes} + 32;
    if (new_text.bytes > old_text.bytes) {
        capacity += uint64_t{new_text.bytes - old_text.bytes} * text.bytes / old_text.bytes;
    }
    Builder out(cp, capacity);
    int64_t only = -1;  // the one match replaced by the first/last modes
    const uint32_t begin = KivCharToByte(text.data, text.bytes, cp, start);
    if (mode == ReplaceMode::kFirst) {
        only = FindFrom(text, begin, old_text);
    } else if (mode == ReplaceMode::kLast) {
        only =
            FindLastBefore(text, KivCharToByte(text.data, text.bytes, cp, last_position), old_text);
    }
    uint32_t at = 0;
    if (mode == ReplaceMode::kAll) {
        out.Add(text.data, begin);
        at = begin;
        while (at < text.bytes) {
            if (MatchAt(text, at, old_text)) {
                out.Add(new_text.data, new_text.bytes);
                at += old_text.bytes;
            } else {
                const uint32_t next = KivNextChar(text.data, text.bytes, cp, at);
                out.Add(text.data + at, next - at);
                at = next;
            }
        }
    } else if (only >= 0) {
        const uint32_t match = static_cast<uint32_t>(only);
        out.Add(text.data, match);
        out.Add(new_text.data, new_text.bytes);
        out.Add(text.data + match + old_text.bytes, text.bytes - match - old_text.bytes);
    } else {
        out.Add(text.data, text.bytes);
    }
    return out.Finish(cp);
}

// The user's default locale; the classic one when the environment names a
// locale the C++ library cannot build.
const std::locale& UserLocale() {
    static const std::locale locale = [] {
        try {
            return std::locale("");
        } catch (const std::runtime_error&) {
            return std::locale::classic();
        }
    }();
    return locale;
}

_String* MapCase(XString& self, uint32_t start, uint32_t count, bool upper) {
    KivText text;
    if (!KivViewString(self.get_Object(), &text)) {
        return KivEmptyString(KivSystemCodePage());
    }
    KivText copy;
    if (!KivConvert(text, text.code_page, &copy)) {
        return KivEmptyString(text.code_page);
    }
    const uint32_t from = KivCharToByte(copy.data, copy.bytes, copy.code_page, start);
    const uint32_t to =
        from + KivCharToByte(copy.data + from, copy.bytes - from, copy.code_page, count);
    if (copy.code_page == kCodePageUtf16) {
        const auto& facet = std::use_facet<std::ctype<wchar_t>>(UserLocale());
        for (uint32_t i = from; i + 2 <= to; i += 2) {
            wchar_t unit;
            std::memcpy(&unit, copy.owned + i, 2);
            unit = upper ? facet.toupper(unit) : facet.tolower(unit);
            std::memcpy(copy.owned + i, &unit, 2);
        }
    } else {
        const auto& facet = std::use_facet<std::ctype<char>>(UserLocale());
        for (uint32_t i = from; i < to; ++i) {
            copy.owned[i] = upper ? facet.toupper(copy.owned[i]) : facet.tolower(copy.owned[i]);
        }
    }
    return KivNewString(copy);
}

bool IsTrimmed(const KivText& text, uint32_t offset) {
    uint32_t unit;
    if (text.code_page == kCodePageUtf16) {
        uint16_t wide;
        std::memcpy(&wide, text.data + offset, 2);
        unit = wide;
    } else {
        unit = static_cast<uint8_t>(text.data[offset]);
    }
    return unit == 10 || unit == 9 || unit == 13 || unit == 32;
}

}  // namespace

int XString::IndexOf(const XString& what, uint32_t start) {
    KivText mine, theirs;
    if (!Common(*this, what, &mine, &theirs) || theirs.bytes == 0) {
        return kNotFound;
    }
    const uint32_t from = KivCharToByte(mine.data, mine.bytes, mine.code_page, start);
    return CharIndex(mine, FindFrom(mine, from, theirs));
}

int XString::IndexOf(const XString& what) {
    return IndexOf(what, 0);
}

int XString::LastIndexOf(const XString& what, uint32_t position) {
    KivText mine, theirs;
    if (!Common(*this, what, &mine, &theirs) || theirs.bytes == 0) {
        return kNotFound;
    }
    const uint32_t end = KivCharToByte(mine.data, mine.bytes, mine.code_page, position);
    return CharIndex(mine, FindLastBefore(mine, end, theirs));
}

int XString::LastIndexOf(const XString& what) {
    return LastIndexOf(what, 0xFFFFFFFFu);
}

bool XString::Equals(const XString& other) {
    KivText mine, theirs;
    return Common(*this, other, &mine, &theirs) && mine.bytes == theirs.bytes &&
           std::memcmp(mine.data, theirs.data, mine.bytes) == 0;
}

_String* XString::Replace(const XString& from, const XString& to, uint32_t start) {
    return ReplaceImpl(*this, from, to, start, ReplaceMode::kAll, 0);
}
_String* XString::Replace(const XString& from, const XString& to) {
    return Replace(from, to, 0);
}
_String* XString::ReplaceFirst(const XString& from, const XString& to, uint32_t start) {
    return ReplaceImpl(*this, from, to, start, ReplaceMode::kFirst, 0);
}
_String* XString::ReplaceFirst(const XString& from, const XString& to) {
    return ReplaceFirst(from, to, 0);
}
_String* XString::ReplaceLast(const XString& from, const XString& to, uint32_t position) {
    return ReplaceImpl(*this, from, to, 0, ReplaceMode::kLast, position);
}
_String* XString::ReplaceLast(const XString& from, const XString& to) {
    return ReplaceLast(from, to, 0xFFFFFFFFu);
}

_String* XString::Substring(uint32_t start) {
    return Substring(start, 0xFFFFFFFFu);
}

_String* XString::Substring(uint32_t start, uint32_t count) {
    KivText text;
    if (!KivViewString(get_Object(), &text)) {
        return KivEmptyString(KivSystemCodePage());
    }
    const uint32_t from = KivCharToByte(text.data, text.bytes, text.code_page, start);
    const uint32_t to =
        from + KivCharToByte(text.data + from, text.bytes - from, text.code_page, count);
    KivText piece;
    piece.code_page = text.code_page;
    piece.data = text.data + from;
    piece.bytes = to - from;
    return KivNewString(piece);
}

_String* XString::ToLower(uint32_t start, uint32_t count) {
    return MapCase(*this, start, count, false);
}
_String* XString::ToLower() {
    return MapCase(*this, 0, 0xFFFFFFFFu, false);
}
_String* XString::ToUpper(uint32_t start, uint32_t count) {
    return MapCase(*this, start, count, true);
}
_String* XString::ToUpper() {
    return MapCase(*this, 0, 0xFFFFFFFFu, true);
}

_String* XString::Trim() {
    KivText text;
    if (!KivViewString(get_Object(), &text)) {
        return KivEmptyString(KivSystemCodePage());
    }
    const uint32_t unit = KivUnitSize(text.code_page);
    uint32_t begin = 0, end = text.bytes - text.bytes % unit;
    while (begin < end && IsTrimmed(text, begin)) {
        begin += unit;
    }
    while (end > begin && IsTrimmed(text, end - unit)) {
        end -= unit;
    }
    KivText piece;
    piece.code_page = text.code_page;
    piece.data = text.data + begin;
    piece.bytes = end - begin;
    return KivNewString(piece);
}

_InternalArray<XString>* XString::Split(const XArray<XString>& separators, bool keep_empty) {
    XArray<XString> result;
    result.get_Object();
    KivText text;
    if (!KivViewString(get_Object(), &text)) {
        return result.Detach();
    }
    // Working encoding: UTF-16 when a separator is, else UTF-8 when a
    // separator or this string is, else this string's own.
    uint32_t cp = text.code_page;
    for (uint32_t i = 0; i < separators.Count(); ++i) {
        XString* separator = separators.At(i);
        const uint32_t sep_cp = separator != nullptr ? separator->get_CodePage() : 0;
        if (sep_cp == kCodePageUtf16) {
            cp = kCodePageUtf16;
        } else if (sep_cp == kCodePageUtf8 && cp != kCodePageUtf16) {
            cp = kCodePageUtf8;
        }
    }
    const uint32_t count = separators.Count();
    KivText* seps = count > 0 ? new (std::nothrow) KivText[count] : nullptr;
    if (!KivConvertInPlace(&text, cp) || (count > 0 && seps == nullptr)) {
        delete[] seps;
        return result.Detach();
    }
    for (uint32_t i = 0; i < count; ++i) {
        XString* separator = separators.At(i);
        if (separator == nullptr || !KivViewString(separator->get_Object(), &seps[i]) ||
            !KivConvertInPlace(&seps[i], cp)) {
            seps[i].Reset();  // a separator that cannot be read matches nothing
        }
    }
    uint32_t piece_start = 0, at = 0;
    auto add_piece = [&](uint32_t end) {
        if (end > piece_start || keep_empty) {
            KivText piece;
            piece.code_page = cp;
            piece.data = text.data + piece_start;
            piece.bytes = end - piece_start;
            XString element(KivNewString(piece));
            result.Add(element);
        }
    };
    while (at < text.bytes) {
        uint32_t matched = 0;
        for (uint32_t i = 0; i < count && matched == 0; ++i) {
            if (MatchAt(text, at, seps[i])) {
                matched = seps[i].bytes;
            }
        }
        if (matched > 0) {
            add_piece(at);
            at += matched;
            piece_start = at;
        } else {
            at = KivNextChar(text.data, text.bytes, cp, at);
        }
    }
    add_piece(text.bytes);
    delete[] seps;
    return result.Detach();
}

_InternalArray<XString>* XString::Split(const XArray<XString>& separators) {
    return Split(separators, false);
}

_InternalArray<XString>* XString::Split(char separator) {
    const char text[2] = {separator, 0};
    XArray<XString> separators;
    separators.Add(
        XString(text, get_CodePage() == kCodePageUtf16 ? KivSystemCodePage() : get_CodePage()));
    return Split(separators, false);
}
