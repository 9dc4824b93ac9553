// XString: construction, assignment, appending, concatenation and conversion.
#include "kiv.basis/lib/string.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <cwchar>

#include "kiv.basis/lib/string_codec.h"

namespace {

std::atomic<uint32_t> g_system_code_page{0};
constexpr uint32_t kMaxGrowthStep = 0x20000;
constexpr uint32_t kMaxStringBytes = 0x7FFFFFF0u;

}  // namespace

uint32_t KivSystemCodePage() {
    uint32_t code_page = g_system_code_page.load(std::memory_order_relaxed);
    if (code_page == 0) {
        code_page = GetACP();
        g_system_code_page.store(code_page, std::memory_order_relaxed);
    }
    return code_page;
}

void KivSetSystemCodePageForTest(uint32_t code_page) {
    g_system_code_page.store(code_page, std::memory_order_relaxed);
}

bool KivIsSupportedCodePage(uint32_t code_page) {
    return code_page == kCodePageCyrillic || code_page == kCodePageLatin1 ||
           code_page == kCodePageUtf8 || code_page == kCodePageUtf16;
}

// ---- _String ----

_String::_String() : code_page(KivSystemCodePage()) {
    const uint32_t first = NextGrowth();
    data = KivAllocBuffer<char>(first, "char");
    if (data != nullptr) {
        capacity = first;
        size = TerminatorSize();
    }
}

_String::~_String() {
    DropBuffer();
}

uint32_t _String::NextGrowth() {
    if (growth_step < kMaxGrowthStep) {
        growth_step *= 2;
    }
    return growth_step;
}

bool _String::Reserve(uint32_t needed) {
    if (needed <= capacity && data != nullptr) {
        return true;
    }
    if (needed > kMaxStringBytes) {
        return false;
    }
    const uint32_t request = needed + NextGrowth();
    char* grown = KivAllocBuffer<char>(request, "char");
    if (grown == nullptr) {
        return false;
    }
    if (data != nullptr && size > 0) {
        std::memcpy(grown, data, size <= capacity ? size : capacity);
    }
    KivMemFree(data);
    data = grown;
    capacity = request;
    return true;
}

bool _String::SetBytes(const char* bytes, uint32_t count, uint32_t new_code_page) {
    const uint32_t terminator = new_code_page == kCodePageUtf16 ? 2 : 1;
    if (count > kMaxStringBytes - terminator) {
        return false;
    }
    size = 0;  // nothing to keep
    if (!Reserve(count + terminator)) {
        return false;
    }
    code_page = new_code_page;
    if (count > 0) {
        std::memmove(data, bytes, count);
    }
    std::memset(data + count, 0, terminator);
    size = count + terminator;
    return true;
}

bool _String::AppendBytes(const char* bytes, uint32_t count) {
    const uint32_t used = ContentBytes();
    const uint32_t terminator = TerminatorSize();
    if (count > kMaxStringBytes - terminator - used) {
        return false;
    }
    if (!Reserve(used + count + terminator)) {
        return false;
    }
    if (count > 0) {
        std::memmove(data + used, bytes, count);
    }
    std::memset(data + used + count, 0, terminator);
    size = used + count + terminator;
    return true;
}

void _String::DropBuffer() {
    KivMemFree(data);
    data = nullptr;
    capacity = 0;
    size = 0;
}

uint32_t _String::Length() const {
    if (code_page == kCodePageUtf16) {
        return size >= 2 ? size / 2 - 1 : 0;
    }
    if (code_page == kCodePageUtf8) {
        return data != nullptr ? KivCharCount(data, ContentBytes(), code_page) : 0;
    }
    if (code_page == kCodePageCyrillic || code_page == kCodePageLatin1) {
        return size >= 1 ? size - 1 : 0;
    }
    return 0;
}

// ---- helpers for new strings ----

namespace {

// A new raw string holding text, registered with the collector.
_String* NewString(const KivText& text) {
    XString result;
    _String* target = result.get_Object();
    if (target == nullptr) {
        return nullptr;
    }
    if (KivIsSupportedCodePage(text.code_page)) {
        target->SetBytes(text.data, text.bytes, text.code_page);
    } else {
        target->DropBuffer();
    }
    return result.Detach();
}

// An empty string of code_page (the system's when unsupported).
_String* EmptyString(uint32_t code_page) {
    KivText empty;
    empty.code_page = code_page;
    empty.data = "\0";
    return NewString(empty);
}

// The five concatenation rules for a string operand and an 8-bit text in the
// system code page; text_first puts the text before the string.
_String* ConcatRules(const _String* string, const char* text, bool text_first) {
    const uint32_t system = KivSystemCodePage();
    KivText left;
    const bool known = KivViewString(string, &left);
    const uint32_t cp = string != nullptr ? string->code_page : system;
    KivText right;
    KivText result_text;
    uint32_t result_cp = 0;
    if ((cp == kCodePageCyrillic || cp == kCodePageLatin1) && system == cp) {
        result_cp = cp;  // rules 1 and 2: plain bytes
        KivViewBytes(text, cp, &right);
    } else if (cp == kCodePageUtf8 || system == kCodePageUtf8) {
        result_cp = kCodePageUtf8;  // rule 3
        if (!known || !KivConvertInPlace(&left, kCodePageUtf8)) {
            return EmptyString(kCodePageUtf8);
        }
        if (!KivViewBytes(text, system, &right) || !KivConvertInPlace(&right, kCodePageUtf8)) {
            return EmptyString(kCodePageUtf8);
        }
    } else if (cp == kCodePageUtf16) {
        result_cp = kCodePageUtf16;  // rule 4: the text is read as 1251
        KivViewBytes(text, kCodePageCyrillic, &right);
        if (!KivConvertInPlace(&right, kCodePageUtf16)) {
            return EmptyString(kCodePageUtf16);
        }
    } else {
        return EmptyString(system);  // rule 5
    }
    const KivText& first = text_first ? right : left;
    const KivText& second = text_first ? left : right;
    if (first.bytes > kMaxStringBytes / 2 || second.bytes > kMaxStringBytes / 2) {
        return EmptyString(result_cp);
    }
    // Room for the left size with its terminator, the right text and 33 spare.
    XString result(first.bytes + second.bytes + 34);
    _String* target = result.get_Object();
    if (target == nullptr) {
        return nullptr;
    }
    if (!target->SetBytes(first.data, first.bytes, result_cp) ||
        !target->AppendBytes(second.data, second.bytes)) {
        target->SetBytes("", 0, result_cp);
    }
    return result.Detach();
}

}  // namespace

// ---- XString construction ----

XString::XString() {
    name_override = "string";
}

XString::XString(uint32_t initial_capacity) {
    name_override = "string";
    _String* target = get_Object();
    if (target == nullptr) {
        return;
    }
    const uint32_t wanted = initial_capacity < 2 ? 2 : initial_capacity;
    target->DropBuffer();
    target->data = KivAllocBuffer<char>(wanted, "char");
    if (target->data != nullptr) {
        target->capacity = wanted;
        target->size = target->TerminatorSize();
    }
    target->growth_step = wanted > kMaxGrowthStep ? kMaxGrowthStep : wanted;
}

XString::XString(const char* text) : XString(text, KivSystemCodePage()) {}

XString::XString(const char* text, uint32_t code_page) {
    name_override = "string";
    _String* target = get_Object();
    if (target == nullptr) {
        return;
    }
    KivText view;
    if (code_page == kCodePageUtf16 || !KivViewBytes(text, code_page, &view)) {
        target->code_page = code_page;
        target->DropBuffer();  // an encoding this runtime does not handle
        return;
    }
    target->SetBytes(view.data, view.bytes, code_page);
}

XString::XString(const char* text, uint32_t start, uint32_t count) {
    name_override = "string";
    _String* target = get_Object();
    if (target == nullptr) {
        return;
    }
    const uint32_t code_page = KivSystemCodePage();
    KivText view;
    if (!KivViewBytes(text, code_page, &view)) {
        target->code_page = code_page;
        target->DropBuffer();
        return;
    }
    const uint32_t from = KivCharToByte(view.data, view.bytes, code_page, start);
    const uint32_t to = from + KivCharToByte(view.data + from, view.bytes - from, code_page, count);
    target->SetBytes(view.data + from, to - from, code_page);
}

XString::XString(const wchar_t* text) : XString(text, 0, 0xFFFFFFFFu) {}

XString::XString(const wchar_t* text, uint32_t start, uint32_t count) {
    name_override = "string";
    _String* target = get_Object();
    if (target == nullptr) {
        return;
    }
    const size_t units = text != nullptr ? std::wcslen(text) : 0;
    if (units > 0x3FFFFFF0u) {
        target->SetBytes("", 0, kCodePageUtf16);
        return;
    }
    const uint32_t total = static_cast<uint32_t>(units);
    const uint32_t first = start < total ? start : total;
    const uint32_t take = count < total - first ? count : total - first;
    target->SetBytes(reinterpret_cast<const char*>(text + first), take * 2, kCodePageUtf16);
}

XString::XString(_String* raw) {
    name_override = "string";
    if (raw == nullptr) {
        return;
    }
    raw->AddRef();
    _String* target = get_Object();
    if (target != nullptr) {
        KivText view;
        if (KivViewString(raw, &view)) {
            target->SetBytes(view.data, view.bytes, raw->code_page);
        } else {
            target->code_page = raw->code_page;
            target->DropBuffer();
        }
    }
    KivConsumeRaw(raw);
    raw->Release();
}

XString::XString(const XString& other) : XGCHandle<_String>() {
    name_override = "string";
    Assign(other);
}

XString::~XString() = default;

XString& XString::Assign(const XString& other) {
    if (&other == this) {
        return *this;
    }
    _String* source = other.Peek();
    _String* target = get_Object();
    if (target == nullptr) {
        return *this;
    }
    if (source == nullptr) {  // an untouched string is the empty string
        target->SetBytes("", 0, KivSystemCodePage());
        return *this;
    }
    KivText view;
    if (KivViewString(source, &view)) {
        target->SetBytes(view.data, view.bytes, source->code_page);
    } else {
        target->code_page = source->code_page;
        target->DropBuffer();
    }
    return *this;
}

XString& XString::operator=(_String* raw) {
    set_Object(raw);
    return *this;
}

XString& XString::operator=(const char* text) {
    XString copy(text);
    return Assign(copy);
}

// ---- appending and concatenation ----

XString& XString::Append(const char* text) {
    // The concatenation rules, grown in place when the result keeps this
    // string's encoding; otherwise a new string replaces the target.
    _String* target = get_Object();
    if (target == nullptr) {
        return *this;
    }
    const uint32_t system = KivSystemCodePage();
    const uint32_t cp = target->code_page;
    KivText right;
    bool ready = false;
    if ((cp == kCodePageCyrillic || cp == kCodePageLatin1) && system == cp) {
        ready = KivViewBytes(text, cp, &right);
        const bool inside = target->data != nullptr && right.data >= target->data &&
                            right.data < target->data + target->capacity;
        ready = ready && (!inside || KivOwnText(&right));  // this string's own bytes
    } else if (cp == kCodePageUtf8) {
        // Owned: the text may be this string's own bytes.
        ready = KivViewBytes(text, system, &right) && KivConvertInPlace(&right, kCodePageUtf8) &&
                KivOwnText(&right);
    } else if (cp == kCodePageUtf16 && system != kCodePageUtf8) {
        ready = KivViewBytes(text, kCodePageCyrillic, &right) &&
                KivConvertInPlace(&right, kCodePageUtf16);
    }
    if (ready) {
        target->AppendBytes(right.data, right.bytes);
    } else {
        set_Object(ConcatRules(target, text, false));
    }
    return *this;
}

XString& XString::Append(_String* raw) {
    XString other(raw);
    return Append(other);
}

XString& XString::Append(const XString& other) {
    _String* target = get_Object();
    _String* source = other.Peek();
    if (target == nullptr || source == nullptr) {
        return *this;
    }
    KivText mine, theirs;
    if (!KivViewString(target, &mine) || !KivViewString(source, &theirs)) {
        return *this;
    }
    // One encoding for both: UTF-16 when either is, else UTF-8 when either is
    // or when the two 8-bit code pages differ.
    uint32_t common = mine.code_page;
    if (mine.code_page != theirs.code_page) {
        common = (mine.code_page == kCodePageUtf16 || theirs.code_page == kCodePageUtf16)
                     ? kCodePageUtf16
                     : kCodePageUtf8;
    }
    if (common == target->code_page) {
        if (!KivConvertInPlace(&theirs, common)) {
            return *this;
        }
        if (source == target) {  // appending to itself: copy the bytes first
            KivText copy;
            KivConvert(theirs, common, &copy);
            target->AppendBytes(copy.data, copy.bytes);
        } else {
            target->AppendBytes(theirs.data, theirs.bytes);
        }
        return *this;
    }
    if (!KivConvertInPlace(&mine, common) || !KivConvertInPlace(&theirs, common)) {
        return *this;
    }
    XString joined(static_cast<uint32_t>(0));
    _String* result = joined.get_Object();
    if (result != nullptr && result->SetBytes(mine.data, mine.bytes, common) &&
        result->AppendBytes(theirs.data, theirs.bytes)) {
        mine.Reset();
        set_Object(joined.Detach());
    }
    return *this;
}

_String* Concat(const XString& left, const char* right) {
    XString& mutable_left = const_cast<XString&>(left);
    return ConcatRules(mutable_left.get_Object(), right, false);
}

_String* Concat(const char* left, const XString& right) {
    XString& mutable_right = const_cast<XString&>(right);
    return ConcatRules(mutable_right.get_Object(), left, true);
}

_String* Concat(_String* left, const char* right) {
    if (left == nullptr) {
        return ConcatRules(nullptr, right, false);
    }
    left->AddRef();
    _String* result = ConcatRules(left, right, false);
    KivConsumeRaw(left);
    left->Release();
    return result;
}

// ---- small operations ----

void XString::Clear() {
    _String* target = get_Object();
    if (target != nullptr) {
        const uint32_t code_page =
            KivIsSupportedCodePage(target->code_page) ? target->code_page : KivSystemCodePage();
        target->SetBytes("", 0, code_page);
    }
}

uint32_t XString::get_Size() {
    _String* target = get_Object();
    return target != nullptr ? target->size : 0;
}

uint32_t XString::get_CodePage() {
    _String* target = get_Object();
    return target != nullptr ? target->code_page : 0;
}

uint32_t XString::get_Length() {
    _String* target = get_Object();
    return target != nullptr ? target->Length() : 0;
}

const char* XString::Bytes() {
    _String* target = get_Object();
    return target != nullptr && target->data != nullptr ? target->data : "";
}

const wchar_t* XString::Wide() {
    _String* target = get_Object();
    if (target != nullptr && target->data != nullptr && target->code_page == kCodePageUtf16) {
        return reinterpret_cast<const wchar_t*>(target->data);
    }
    return L"";
}

_String* XString::ReplaceChar(char from, char to) {
    KivText view;
    if (!KivViewString(get_Object(), &view)) {
        return EmptyString(KivSystemCodePage());
    }
    KivText copy;
    if (!KivConvert(view, view.code_page, &copy)) {
        return EmptyString(view.code_page);
    }
    for (uint32_t i = 0; i < copy.bytes; ++i) {
        if (copy.owned[i] == from) {
            copy.owned[i] = to;
        }
    }
    return NewString(copy);
}

// ---- conversions ----

namespace {

_String* ConvertTo(_String* source, uint32_t code_page) {
    KivText view, converted;
    if (!KivViewString(source, &view) || !KivIsSupportedCodePage(code_page) ||
        !KivConvert(view, code_page, &converted)) {
        return EmptyString(KivIsSupportedCodePage(code_page) ? code_page : KivSystemCodePage());
    }
    return NewString(converted);
}

}  // namespace

_String* XString::ToAnsi() {
    _String* source = get_Object();
    const uint32_t system = KivSystemCodePage();
    if (source != nullptr &&
        (source->code_page == kCodePageCyrillic || source->code_page == kCodePageLatin1) &&
        (system == kCodePageCyrillic || system == kCodePageLatin1)) {
        // No conversion between the two 8-bit code pages: copied as they are.
        KivText view;
        KivViewString(source, &view);
        return NewString(view);
    }
    if (!KivIsSupportedCodePage(system) || system == kCodePageUtf16) {
        return EmptyString(system);
    }
    return ConvertTo(source, system);
}

_String* XString::ToUtf16() {
    return ConvertTo(get_Object(), kCodePageUtf16);
}
_String* XString::ToUtf8() {
    return ConvertTo(get_Object(), kCodePageUtf8);
}

// Shared with the search and case operations.
_String* KivNewString(const KivText& text) {
    return NewString(text);
}
_String* KivEmptyString(uint32_t code_page) {
    return EmptyString(code_page);
}
