// codec-bench --clip FILE.h264 --library PATH\h264.dll [--rounds N]
//             [--decoders N] [--max-overhead PERCENT]
//
// Decodes an Annex B H.264 clip (access units separated by access unit
// delimiters) picture by picture, in alternating passes:
//   direct   dec_decode of the library called as the plug-in's contract says,
//            with nothing around it;
//   binding  CodecModule::Decode on a module the binding made from the same
//            library (guarded call, picture copy).
// Both run in the same process on decoders of the same library, each pass on
// the whole clip; the figure per path is the median pass. Then memory per
// decoder (private bytes, GetProcessMemoryInfo): N modules opened, after
// their first pictures, and after they are freed.
// Exit status: 0, 1 on a usage or decoding error, 3 when the binding's
// overhead exceeds --max-overhead (default 5 %).
#include <windows.h>
// psapi.h needs windows.h first.
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/common/wine_files.h"
#include "npcamvue/shell/aligned_block.h"
#include "npcamvue/shell/codec_module.h"
#include "npcamvue/shell/guarded_call.h"

namespace {

using camvue::CodecModule;
using camvue::H264DecodeBlock;
using Bytes = std::vector<uint8_t>;

struct Unit {
    const uint8_t* data;
    int size;
};

// Splits at each access unit delimiter (NAL type 9) with its start code.
std::vector<Unit> SplitAccessUnits(const Bytes& clip) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 < clip.size(); ++i) {
        if (clip[i] == 0 && clip[i + 1] == 0 && clip[i + 2] == 1 && (clip[i + 3] & 0x1f) == 9) {
            starts.push_back(i > 0 && clip[i - 1] == 0 ? i - 1 : i);
            i += 3;
        }
    }
    std::vector<Unit> units;
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t end = k + 1 < starts.size() ? starts[k + 1] : clip.size();
        units.push_back(Unit{clip.data() + starts[k], static_cast<int>(end - starts[k])});
    }
    return units;
}

size_t PrivateBytes() {
    // PagefileUsage is the commit charge (PrivateUsage on Windows, which wine
    // leaves 0; wine counts the touched pages here).
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return counters.PagefileUsage;
}

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

template <typename Fn>
Fn Entry(HMODULE library, const char* name) {
    FARPROC proc = GetProcAddress(library, name);
    Fn fn = nullptr;
    std::memcpy(&fn, &proc, sizeof fn);
    return fn;
}

// The library called directly, as the contract describes, nothing around it.
class DirectDecoder {
  public:
    explicit DirectDecoder(const std::string& path) : library_(LoadLibraryA(path.c_str())) {
        if (library_ == nullptr)
            return;
        if (auto init = Entry<camvue::CodecDllInitFn>(library_, "dll_init"))
            init(0);
        decode_ = Entry<camvue::CodecDecDecodeFn>(library_, "dec_decode");
        close_ = Entry<camvue::CodecDecCloseFn>(library_, "dec_close");
        if (auto open = Entry<camvue::CodecDecOpenFn>(library_, "dec_open"))
            open(&decoder_, 0);
    }
    ~DirectDecoder() {
        if (decoder_ != nullptr && close_ != nullptr)
            close_(decoder_);
        if (library_ != nullptr)
            FreeLibrary(library_);
    }
    bool ready() const { return decoder_ != nullptr && decode_ != nullptr; }
    int width() const { return width_; }
    int height() const { return height_; }
    // The picture, or null.
    const uint8_t* Decode(const Unit& unit, int* size) {
        H264DecodeBlock block;
        std::memset(&block, 0, sizeof block);
        block.input = unit.data;
        block.inputLength = unit.size;
        const int consumed = decode_(decoder_, &block);
        *size = block.outputLength;
        width_ = block.width;
        height_ = block.height;
        return consumed == unit.size ? block.output : nullptr;
    }

  private:
    HMODULE library_;
    void* decoder_ = nullptr;
    camvue::CodecDecDecodeFn decode_ = nullptr;
    camvue::CodecDecCloseFn close_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

struct Options {
    std::string clip;
    std::string library;
    int rounds = 5;
    int decoders = 8;
    double maxOverhead = 5.0;
};

bool ParseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--clip")
            o->clip = camvue_bench::WindowsPath(value);
        else if (key == "--library")
            o->library = camvue_bench::WindowsPath(value);
        else if (key == "--rounds")
            o->rounds = std::max(1, std::atoi(value));
        else if (key == "--decoders")
            o->decoders = std::max(1, std::atoi(value));
        else if (key == "--max-overhead")
            o->maxOverhead = std::atof(value);
        else
            return false;
    }
    return argc % 2 == 1 && !o->clip.empty() && !o->library.empty();
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: codec-bench --clip FILE.h264 --library PATH\\h264.dll [--rounds N] "
                     "[--decoders N] [--max-overhead PERCENT]\n");
        return 1;
    }
    Bytes clip;
    if (!camvue_bench::ReadWholeFile(options.clip, &clip)) {
        std::fprintf(stderr, "codec-bench: cannot read %s\n", options.clip.c_str());
        return 1;
    }
    const std::vector<Unit> units = SplitAccessUnits(clip);
    if (units.size() < 2) {
        std::fprintf(stderr, "codec-bench: %s has no access unit delimiters\n",
                     options.clip.c_str());
        return 1;
    }
    const std::string folder = options.library.substr(0, options.library.rfind('\\') + 1);
    if (options.library.substr(folder.size()) != "h264.dll") {
        std::fprintf(stderr, "codec-bench: the library must be named h264.dll\n");
        return 1;
    }

    DirectDecoder direct(options.library);
    CodecModule* module = nullptr;
    if (!direct.ready() || CodecModule::Ensure(&module, camvue::kCodecH264, folder.c_str()) != 0 ||
        !CodecModule::Loaded(module)) {
        std::fprintf(stderr, "codec-bench: cannot open %s\n", options.library.c_str());
        return 1;
    }

    // Both paths give the same pictures (checked once, untimed).
    for (const Unit& unit : units) {
        int directSize = 0;
        const uint8_t* expected = direct.Decode(unit, &directSize);
        Bytes copy(expected, expected == nullptr ? expected : expected + directSize);
        const uint8_t* picture = nullptr;
        int size = 0;
        const int implied =
            CodecModule::Decode(module, unit.data, unit.size, &picture, &size, nullptr);
        if (expected == nullptr || picture == nullptr || size != directSize ||
            implied != direct.width() * direct.height() * 3 / 2 ||
            std::memcmp(picture, copy.data(), copy.size()) != 0) {
            std::fprintf(stderr, "codec-bench: the two paths disagree\n");
            return 1;
        }
    }

    std::vector<double> directTimes;
    std::vector<double> bindingTimes;
    const size_t count = units.size();
    auto directPass = [&] {
        const double start = Now();
        for (const Unit& unit : units) {
            int size = 0;
            if (direct.Decode(unit, &size) == nullptr)
                return false;
        }
        directTimes.push_back((Now() - start) / static_cast<double>(count));
        return true;
    };
    auto bindingPass = [&] {
        const double start = Now();
        for (const Unit& unit : units) {
            const uint8_t* picture = nullptr;
            int size = 0;
            if (CodecModule::Decode(module, unit.data, unit.size, &picture, &size, nullptr) == 0)
                return false;
        }
        bindingTimes.push_back((Now() - start) / static_cast<double>(count));
        return true;
    };
    for (int round = 0; round < options.rounds; ++round) {
        // Alternate the order so that neither path always runs second.
        const bool ok =
            round % 2 ? (bindingPass() && directPass()) : (directPass() && bindingPass());
        if (!ok) {
            std::fprintf(stderr, "codec-bench: a picture failed to decode in round %d\n", round);
            return 1;
        }
    }
    const double directMs = Median(directTimes) * 1e3;
    const double bindingMs = Median(bindingTimes) * 1e3;
    const double overhead = (bindingMs - directMs) / directMs * 100.0;

    // The two costs the binding adds, measured alone.
    int calls = 0;
    const int guardRounds = 200000;
    double start = Now();
    for (int i = 0; i < guardRounds; ++i)
        camvue::CallGuarded([&] { ++calls; });
    const double guardNs = (Now() - start) / guardRounds * 1e9;
    const uint8_t* last = nullptr;
    int lastSize = 0;
    CodecModule::LastPicture(module, &last, &lastSize);
    Bytes source(last, last + lastSize);
    void* target = nullptr;
    start = Now();
    const int copies = 200;
    for (int i = 0; i < copies; ++i) {
        target = camvue::AlignedBlock::Reallocate(lastSize, target, false);
        std::memcpy(target, source.data(), source.size());
    }
    const double copyUs = (Now() - start) / copies * 1e6;
    camvue::AlignedBlock::Free(target);
    CodecModule::FreeModule(module);
    module = nullptr;

    std::printf("clip: %s, %zu pictures of %dx%d (%d bytes each)\n", options.clip.c_str(), count,
                direct.width(), direct.height(), lastSize);
    std::printf("decode per picture, median of %d passes:\n", options.rounds);
    std::printf("  direct dec_decode      %8.3f ms\n", directMs);
    std::printf("  through the binding    %8.3f ms\n", bindingMs);
    std::printf("  overhead               %+8.2f %%  (budget %.1f %%)\n", overhead,
                options.maxOverhead);
    std::printf("  for scale: one guarded call %.0f ns; a plain memcpy of one picture %.1f us\n",
                guardNs, copyUs);

    // Memory per decoder.
    const int n = options.decoders;
    std::vector<CodecModule*> modules(static_cast<size_t>(n), nullptr);
    const size_t before = PrivateBytes();
    for (CodecModule*& m : modules)
        CodecModule::Ensure(&m, camvue::kCodecH264, folder.c_str());
    const size_t opened = PrivateBytes();
    const size_t firstUnits = std::min<size_t>(units.size(), 3);
    for (CodecModule* m : modules) {
        for (size_t i = 0; i < firstUnits; ++i) {
            const uint8_t* picture = nullptr;
            int size = 0;
            CodecModule::Decode(m, units[i].data, units[i].size, &picture, &size, nullptr);
        }
    }
    const size_t decoding = PrivateBytes();
    for (CodecModule* m : modules)
        CodecModule::FreeModule(m);
    const size_t freed = PrivateBytes();
    auto perDecoder = [&](size_t from, size_t to) {
        return (static_cast<double>(to) - static_cast<double>(from)) / n / (1024.0 * 1024.0);
    };
    std::printf("memory per decoder (%d modules, private bytes):\n", n);
    std::printf("  opened                 %8.2f MB\n", perDecoder(before, opened));
    std::printf("  after %zu pictures each  %8.2f MB\n", firstUnits, perDecoder(before, decoding));
    std::printf("  left after freeing     %8.2f MB\n", perDecoder(before, freed));

    if (calls != guardRounds)
        return 1;
    if (overhead > options.maxOverhead) {
        std::printf("overhead above the budget\n");
        return 3;
    }
    return 0;
}
