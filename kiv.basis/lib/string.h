// XString: a string that carries its own encoding (Windows code page 1251 or
// 1252, UTF-8 or UTF-16) and converts between them on demand; operations that
// make a new string return it as a raw _String registered with the collector,
// for the caller to take with a constructor or an assignment.
#pragma once

#include <cstdint>

#include "kiv.basis/lib/array.h"

enum : uint32_t {
    kCodePageCyrillic = 1251,
    kCodePageLatin1 = 1252,
    kCodePageUtf8 = 65001,
    kCodePageUtf16 = 1200,
};

// The system's ANSI code page, read once per process.
uint32_t KivSystemCodePage();
// Test seam: replaces the cached code page (0 reads the system's again).
void KivSetSystemCodePageForTest(uint32_t code_page);
bool KivIsSupportedCodePage(uint32_t code_page);

class _String : public XGCRef {
  public:
    static constexpr const char* kTypeName = "_String";

    // An empty string in the system code page with a first buffer of 64 bytes.
    _String();
    ~_String() override;

    // The next growth increment: the step doubles up to 128 KiB.
    uint32_t NextGrowth();
    // Makes room for needed bytes (terminator included), growing by the
    // increment; keeps the contents. False when memory is out.
    bool Reserve(uint32_t needed);
    // Replaces the contents with bytes (no terminator) in code_page.
    bool SetBytes(const char* bytes, uint32_t count, uint32_t code_page);
    // Appends bytes (no terminator) of this string's own encoding.
    bool AppendBytes(const char* bytes, uint32_t count);
    // Drops the buffer: a string of an unsupported code page.
    void DropBuffer();
    uint32_t TerminatorSize() const { return code_page == kCodePageUtf16 ? 2 : 1; }
    // Bytes in use without the terminator.
    uint32_t ContentBytes() const { return size >= TerminatorSize() ? size - TerminatorSize() : 0; }
    uint32_t Length() const;

    uint32_t growth_step = 32;
    char* data = nullptr;
    uint32_t capacity = 0;
    uint32_t size = 0;
    uint32_t code_page = 0;
};

class XString : public XGCHandle<_String> {
  public:
    static constexpr const char* kTypeName = "XString";
    static constexpr const char* kArrayTypeName = "_InternalArray<XString>";

    XString();
    explicit XString(uint32_t capacity);
    XString(const char* text);  // NOLINT: strings are built from literals everywhere
    XString(const char* text, uint32_t code_page);
    XString(const char* text, uint32_t start, uint32_t count);
    XString(const wchar_t* text);  // NOLINT
    XString(const wchar_t* text, uint32_t start, uint32_t count);
    XString(_String* raw);  // NOLINT: copies, then consumes the raw string
    XString(const XString& other);
    ~XString() override;

    // Virtual operations, in slot order after those of XObject.
    virtual uint32_t get_Length();
    virtual int IndexOf(const XString& what, uint32_t start);
    virtual int IndexOf(const XString& what);
    virtual int LastIndexOf(const XString& what, uint32_t position);
    virtual int LastIndexOf(const XString& what);
    virtual bool Equals(const XString& other);
    virtual _String* Replace(const XString& from, const XString& to, uint32_t start);
    virtual _String* Replace(const XString& from, const XString& to);
    virtual _String* ReplaceFirst(const XString& from, const XString& to, uint32_t start);
    virtual _String* ReplaceFirst(const XString& from, const XString& to);
    virtual _String* ReplaceLast(const XString& from, const XString& to, uint32_t position);
    virtual _String* ReplaceLast(const XString& from, const XString& to);
    virtual _String* Substring(uint32_t start);
    virtual _String* Substring(uint32_t start, uint32_t count);
    virtual _String* ToLower(uint32_t start, uint32_t count);
    virtual _String* ToLower();
    virtual _String* ToUpper(uint32_t start, uint32_t count);
    virtual _String* ToUpper();
    // keep_empty: keep the empty pieces between adjacent separators.
    virtual _InternalArray<XString>* Split(const XArray<XString>& separators, bool keep_empty);
    virtual _InternalArray<XString>* Split(const XArray<XString>& separators);
    virtual _String* Trim();
    virtual XString& Assign(const XString& other);

    XString& operator=(const XString& other) { return Assign(other); }
    XString& operator=(_String* raw);
    XString& operator=(const char* text);
    XString& Append(const char* text);
    XString& Append(_String* raw);
    XString& Append(const XString& other);
    XString& operator+=(const char* text) { return Append(text); }
    XString& operator+=(const XString& other) { return Append(other); }

    _String* ReplaceChar(char from, char to);
    _InternalArray<XString>* Split(char separator);
    void Clear();
    uint32_t get_Size();
    uint32_t get_CodePage();
    _String* ToAnsi();
    _String* ToUtf16();
    _String* ToUtf8();

    // The bytes (8-bit encodings) or units (UTF-16); "" / L"" without a buffer.
    const char* Bytes();
    const wchar_t* Wide();
};

// Concatenations; each returns a new string.
_String* Concat(const XString& left, const char* right);
_String* Concat(const char* left, const XString& right);
_String* Concat(_String* left, const char* right);  // consumes left
inline _String* operator+(const XString& left, const char* right) {
    return Concat(left, right);
}
inline _String* operator+(const char* left, const XString& right) {
    return Concat(left, right);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(_String, growth_step) == 48 && offsetof(_String, data) == 52 &&
              offsetof(_String, capacity) == 56 && offsetof(_String, size) == 60 &&
              offsetof(_String, code_page) == 64 && sizeof(_String) == 68);
static_assert(sizeof(XString) == 16, "a handle: vtable, holder, owner, name override");
static_assert(sizeof(_Array<XString, 5>) == 16);
static_assert(offsetof(_InternalArray<XString>, array) == 48);
#endif
#pragma GCC diagnostic pop
