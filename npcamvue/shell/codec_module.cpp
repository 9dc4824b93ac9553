#include "npcamvue/shell/codec_module.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "npcamvue/shell/aligned_block.h"
#include "npcamvue/shell/guarded_call.h"

namespace camvue {
namespace {

constexpr size_t kFolderBuffer = 4096;
constexpr size_t kPathBuffer = kFolderBuffer + 32;

// Function pointers are taken from a FARPROC byte for byte, as GetProcAddress
// hands them out (a cast between function types would draw a warning).
template <typename Fn>
Fn Resolve(HMODULE library, const char* name) {
    Fn fn = nullptr;
    if (library == nullptr)
        return fn;
    FARPROC proc = GetProcAddress(library, name);
    static_assert(sizeof fn == sizeof proc, "function pointer sizes");
    std::memcpy(&fn, &proc, sizeof fn);
    return fn;
}

bool JoinPath(const char* folder, const char* name, char* out) {
    const size_t length = std::strlen(folder);
    const char* separator =
        (length == 0 || folder[length - 1] == '\\' || folder[length - 1] == '/') ? "" : "\\";
    const int written = std::snprintf(out, kPathBuffer, "%s%s%s", folder, separator, name);
    return written > 0 && static_cast<size_t>(written) < kPathBuffer;
}

// Create an H264Module from `path`: a load of its own, "dll_init"(0) if
// exported, and the entry points. Null only when no memory.
H264Module* CreateH264Module(const char* path) {
    auto* h264 = static_cast<H264Module*>(std::calloc(1, sizeof(H264Module)));
    if (h264 == nullptr)
        return nullptr;
    h264->library = LoadLibraryA(path);
    if (h264->library == nullptr)
        return h264;
    if (auto init = Resolve<CodecDllInitFn>(h264->library, "dll_init"))
        init(0);
    h264->decOpen = Resolve<CodecDecOpenFn>(h264->library, "dec_open");
    h264->decClose = Resolve<CodecDecCloseFn>(h264->library, "dec_close");
    h264->decDecode = Resolve<CodecDecDecodeFn>(h264->library, "dec_decode");
    h264->encOpen = GetProcAddress(h264->library, "enc_open");
    h264->encClose = GetProcAddress(h264->library, "enc_close");
    h264->encEncode = GetProcAddress(h264->library, "enc_encode");
    return h264;
}

// Create a module from `path` for `type`. Null only when no memory.
CodecModule* CreateModule(const char* path, int type) {
    auto* module = static_cast<CodecModule*>(std::calloc(1, sizeof(CodecModule)));
    if (module == nullptr)
        return nullptr;
    module->type = type;
    module->library = LoadLibraryA(path);
    module->format.biSize = sizeof(BITMAPINFOHEADER);
    module->addRef = Resolve<CodecAddRefFn>(module->library, "AddRef");
    module->deCodeBmp = Resolve<CodecDeCodeBmpFn>(module->library, "DeCodeBmp");
    module->release = Resolve<CodecReleaseFn>(module->library, "Release");
    if (module->addRef != nullptr && module->deCodeBmp != nullptr && module->release != nullptr) {
        module->addRef(&module->decoder, 0, 0);
        return module;
    }
    // Not a JPEG-style library (or none at all): bind it as an H.264-style
    // one through a load of its own and drop the first load.
    module->addRef = nullptr;
    module->deCodeBmp = nullptr;
    module->release = nullptr;
    module->h264 = CreateH264Module(path);
    if (module->library != nullptr)
        FreeLibrary(module->library);
    module->library = nullptr;
    return module;
}

// Opens the H.264 decoder of a freshly made module.
void OpenModule(CodecModule* module) {
    H264Module* h264 = module->h264;
    if (h264 == nullptr)
        return;
    if (h264->decoder != nullptr && h264->decClose != nullptr)
        h264->decClose(h264->decoder);
    h264->decoder = nullptr;
    if (h264->decOpen != nullptr)
        h264->decOpen(&h264->decoder, 0);
}

// Copies a decoded picture into the module's copy buffer (32-byte aligned).
// The copy is read again only for a redraw, so where SSE2 is part of the
// target (x64) it is written around the cache: a 1080p copy would otherwise
// push the decoder's reference pictures out and slow the next decode by
// more than the copy itself costs.
void CopyPicture(uint8_t* target, const uint8_t* source, size_t size) {
    size_t done = 0;
#if defined(__SSE2__)
    for (; done + 64 <= size; done += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + done));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + done + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + done + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + done + 48));
        _mm_stream_si128(reinterpret_cast<__m128i*>(target + done), a);
        _mm_stream_si128(reinterpret_cast<__m128i*>(target + done + 16), b);
        _mm_stream_si128(reinterpret_cast<__m128i*>(target + done + 32), c);
        _mm_stream_si128(reinterpret_cast<__m128i*>(target + done + 48), d);
    }
    _mm_sfence();
#endif
    std::memcpy(target + done, source + done, size - done);
}

int Fail(const uint8_t** picture, int* size) {
    if (picture != nullptr)
        *picture = nullptr;
    if (size != nullptr)
        *size = 0;
    return 0;
}

int ImpliedSize(int32_t width, int32_t height, int numerator, int denominator) {
    const long long bytes = static_cast<long long>(width) * height * numerator / denominator;
    return bytes > 0 && bytes <= INT32_MAX ? static_cast<int>(bytes) : 0;
}

int DecodeJpeg(CodecModule* module, const uint8_t* frame, int length, const uint8_t** picture,
               int* size, int* extra) {
    if (module->deCodeBmp == nullptr)
        return Fail(picture, size);
    int unused = 0;
    int* extraOut = extra != nullptr ? extra : &unused;
    BITMAPINFOHEADER* format = &module->format;

    format->biSizeImage = static_cast<DWORD>(length);
    int result = -1;
    if (!CallGuarded([&] {
            result = module->deCodeBmp(module->decoder, frame, format, nullptr, extraOut);
        }) ||
        result != 0)
        return Fail(picture, size);

    const long long bits =
        static_cast<long long>(format->biBitCount) * format->biHeight * format->biWidth;
    if (bits <= 7 || bits / 8 > AlignedBlock::kMaxBytes)
        return Fail(picture, size);
    const int bytes = static_cast<int>(bits / 8);
    module->picture =
        static_cast<uint8_t*>(AlignedBlock::Reallocate(bytes, module->picture, false));
    if (module->picture == nullptr) {  // the old picture is gone with it
        module->pictureSize = 0;
        return Fail(picture, size);
    }

    format->biSizeImage = static_cast<DWORD>(length);
    if (!CallGuarded(
            [&] { module->deCodeBmp(module->decoder, frame, format, module->picture, extraOut); }))
        format->biSizeImage = 0;
    // A library that reports more than the buffer holds is not believed
    // beyond the buffer.
    const DWORD room = static_cast<DWORD>(AlignedBlock::ByteSize(module->picture));
    module->pictureSize =
        static_cast<int32_t>(format->biSizeImage <= room ? format->biSizeImage : room);
    if (size != nullptr)
        *size = module->pictureSize;
    if (picture != nullptr)
        *picture = module->pictureSize != 0 ? module->picture : nullptr;
    return ImpliedSize(format->biWidth, format->biHeight, 3, 2);
}

int DecodeH264(H264Module* h264, const uint8_t* frame, int length, const uint8_t** picture,
               int* size, int* extra) {
    if (h264->library == nullptr || picture == nullptr || size == nullptr)
        return Fail(picture, size);
    H264DecodeBlock block;
    std::memset(&block, 0, sizeof block);
    block.input = frame;
    block.inputLength = length;
    int result = -1;
    if (h264->decoder != nullptr && h264->decDecode != nullptr) {
        if (!CallGuarded([&] { result = h264->decDecode(h264->decoder, &block); }))
            result = -1;
    }
    if (result != length || block.output == nullptr)
        return Fail(picture, size);
    if (block.outputLength > 0) {
        h264->picture = static_cast<uint8_t*>(
            AlignedBlock::Reallocate(block.outputLength, h264->picture, false));
        if (h264->picture != nullptr) {
            CopyPicture(h264->picture, block.output, static_cast<size_t>(block.outputLength));
            h264->pictureSize = block.outputLength;
        } else {
            h264->pictureSize = 0;
        }
    }
    *picture = block.output;
    *size = block.outputLength;
    if (extra != nullptr)
        *extra = block.extra;
    return ImpliedSize(block.width, block.height, 12, 8);
}

}  // namespace

bool PluginFolder(char* out, size_t size) {
    if (out == nullptr || size == 0)
        return false;
    out[0] = '\0';
    HMODULE module = GetModuleHandleA("npcamvue.dll");
    if (module == nullptr && !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                     GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                                 reinterpret_cast<LPCSTR>(&PluginFolder), &module))
        return false;
    char path[kFolderBuffer];
    const DWORD length = GetModuleFileNameA(module, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return false;
    char* slash = std::strrchr(path, '\\');
    if (slash == nullptr)
        return false;
    slash[1] = '\0';
    const size_t needed = static_cast<size_t>(slash + 1 - path);
    if (needed >= size)
        return false;
    std::memcpy(out, path, needed + 1);
    return true;
}

int CodecModule::Ensure(CodecModule** slot, int type, const char* folder) {
    if (slot == nullptr)
        return -1;
    if (*slot != nullptr && (*slot)->type != type) {
        FreeModule(*slot);
        *slot = nullptr;
    }
    if (*slot != nullptr)
        return 0;

    const char* name = nullptr;
    const char* fallback = nullptr;
    if (type == kCodecH264) {
        name = "h264.dll";
        fallback = "codec\\h264.dll";
    } else if (type == kCodecJpeg) {
        name = "picdec.dll";
        fallback = "codec\\picdec.dll";
    } else {
        return -1;
    }
    char base[kFolderBuffer];
    if (folder == nullptr) {
        PluginFolder(base, sizeof base);  // on failure: the bare file names
        folder = base;
    }
    char path[kPathBuffer];
    CodecModule* module = JoinPath(folder, name, path) ? CreateModule(path, type) : nullptr;
    if (module == nullptr || !Loaded(module)) {
        FreeModule(module);
        module = JoinPath(folder, fallback, path) ? CreateModule(path, type) : nullptr;
    }
    if (module == nullptr)
        return -1;
    OpenModule(module);
    *slot = module;
    return 0;
}

int CodecModule::Decode(CodecModule* module, const uint8_t* frame, int length,
                        const uint8_t** picture, int* size, int* extra) {
    if (module == nullptr)
        return Fail(picture, size);
    if (module->h264 != nullptr)
        return DecodeH264(module->h264, frame, length, picture, size, extra);
    return DecodeJpeg(module, frame, length, picture, size, extra);
}

void CodecModule::Announce(CodecModule* module, int width, int height) {
    if (module == nullptr)
        return;
    module->format.biWidth = width;
    module->format.biHeight = height;
    module->format.biCompression = kFourccYv12;
}

bool CodecModule::Loaded(const CodecModule* module) {
    if (module == nullptr)
        return false;
    if (module->h264 != nullptr)
        return module->h264->library != nullptr;
    return module->library != nullptr;
}

bool CodecModule::LastPicture(const CodecModule* module, const uint8_t** picture, int* size) {
    const uint8_t* data = nullptr;
    int bytes = 0;
    if (module != nullptr && module->h264 != nullptr) {
        data = module->h264->picture;
        bytes = module->h264->pictureSize;
    } else if (module != nullptr) {
        data = module->picture;
        bytes = module->pictureSize;
    }
    const bool present = data != nullptr && bytes != 0;
    if (picture != nullptr)
        *picture = present ? data : nullptr;
    if (size != nullptr)
        *size = present ? bytes : 0;
    return present;
}

void CodecModule::ForgetLastPicture(CodecModule* module) {
    if (module == nullptr)
        return;
    if (module->h264 != nullptr)
        module->h264->pictureSize = 0;
    else
        module->pictureSize = 0;
}

void CodecModule::FreeModule(CodecModule* module) {
    if (module == nullptr)
        return;
    CodecReleaseFn release = module->release;
    module->addRef = nullptr;
    module->deCodeBmp = nullptr;
    module->release = nullptr;
    if (release != nullptr)
        release(module->decoder);
    module->decoder = nullptr;
    if (module->library != nullptr)
        FreeLibrary(module->library);
    AlignedBlock::Free(module->picture);
    if (H264Module* h264 = module->h264) {
        if (h264->decoder != nullptr && h264->decClose != nullptr)
            h264->decClose(h264->decoder);
        if (h264->library != nullptr)
            FreeLibrary(h264->library);
        AlignedBlock::Free(h264->picture);
        std::free(h264);
    }
    std::free(module);
}

}  // namespace camvue
