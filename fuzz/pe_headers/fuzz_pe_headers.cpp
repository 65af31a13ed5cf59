// Any bytes, any size: the header test must neither crash nor read outside the view. The view is
// exactly the input (libFuzzer and the replay both hand over a buffer of that size), so any read
// past either end is caught by the sanitizers.
#include <cstddef>
#include <cstdint>

#include "scan/pe_recognition.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto clamped = static_cast<DWORD>(size > 0xFFFFFFFFu ? 0xFFFFFFFFu : size);
    volatile BOOL result = CheckPeHeaders(data, clamped);
    (void)result;
    return 0;
}
