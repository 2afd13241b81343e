#pragma once

#include <stdexcept>
#include <string>

namespace xa {

// A failure inside the library, on its way to becoming an error notification: the status
// code (XA_ERROR_*), the part that failed (XA_SOURCE_*) and a text for people.
class Error : public std::runtime_error {
public:
    Error(int source, int code, const std::string &message)
        : std::runtime_error(message), source_(source), code_(code) {}

    int source() const { return source_; }
    int code() const { return code_; }

private:
    int source_;
    int code_;
};

// The system's text for errno, for messages.
std::string SystemErrorText(int error);

} // namespace xa
