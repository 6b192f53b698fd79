#pragma once
// Exceptions raised by the engine. Their messages name the file and the reason,
// ready to be shown to the operator as they stand.

#include <stdexcept>
#include <string>

/// A file could not be opened, read, created or written.
class EFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// A photograph could not be decoded (damaged data, unsupported kind, too large).
class EJpegError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
