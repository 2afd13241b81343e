// The Xing VBR header parser on arbitrary bytes: it reads only what it is given and only
// the fields its flags announce.

#include "inspect/MPGTools.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const TXingHeader xing = ParseXingHeader(data, size);
    if (xing.Present != (size >= 4 && std::memcmp(data, "Xing", 4) == 0))
        std::abort();
    if (!xing.Present && (xing.Flags || xing.Frames || xing.Bytes || xing.Quality))
        std::abort();
    if ((xing.Frames && !(xing.Flags & 1)) || (xing.Bytes && !(xing.Flags & 2)) ||
        (xing.Quality && !(xing.Flags & 8)))
        std::abort();
    return 0;
}
