#include "Error.h"

#include <cstring>

namespace xa {

std::string SystemErrorText(int error) {
    char buffer[256];
    // The GNU variant may return a static text instead of filling the buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

} // namespace xa
