// Base64 on arbitrary bytes: counting, too-small and exact output agree, and
// encoding any input decodes back to it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "npcamvue/rtsp/base64.h"

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace camvue;
    const char* text = reinterpret_cast<const char*>(data);

    size_t count = 0;
    Check(Base64Decode(text, size, nullptr, 0, &count));
    Check(count <= size);

    constexpr size_t kSmall = 8;
    uint8_t small[kSmall];
    size_t smallCount = 0;
    const bool smallFits = Base64Decode(text, size, small, kSmall, &smallCount);
    Check(smallCount == count && smallFits == (count <= kSmall));

    std::unique_ptr<uint8_t[]> full(new uint8_t[count > 0 ? count : 1]);
    size_t fullCount = 0;
    Check(Base64Decode(text, size, full.get(), count, &fullCount) && fullCount == count);
    const size_t prefix = count < kSmall ? count : kSmall;
    Check(std::memcmp(small, full.get(), prefix) == 0);

    // Round trip: the estimate's room is enough, one byte less is refused.
    const size_t estimate = Base64EncodeEstimate(size);
    std::unique_ptr<char[]> encoded(new char[estimate + 1]);
    size_t encodedLength = 0;
    Check(Base64Encode(data, size, encoded.get(), estimate + 1, &encodedLength));
    Check(encodedLength == (size + 2) / 3 * 4 && encoded[encodedLength] == '\0');
    Check(!Base64Encode(data, size, encoded.get(), estimate));

    std::unique_ptr<uint8_t[]> back(new uint8_t[size > 0 ? size : 1]);
    size_t backCount = 0;
    Check(Base64Decode(encoded.get(), encodedLength, back.get(), size, &backCount));
    Check(backCount == size && (size == 0 || std::memcmp(back.get(), data, size) == 0));
    return 0;
}
