#pragma once
// Exceptions raised by the engine. Their messages name the file and the reason,
// ready to be shown to the operator as they stand.

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>

/// A file could not be opened, read, created or written.
class EFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// A photograph could not be decoded (damaged data, a kind of picture that cannot
/// be read, too large).
class EPictureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// A JPEG photograph could not be decoded.
class EJpegError : public EPictureError {
public:
    using EPictureError::EPictureError;
};

/// An input that does not make a stack to evaluate: a list that cannot be read or
/// names another number of photographs than 17, pictures of different sizes.
class EStackError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// A request whose files cannot go together (an output that is one of the inputs,
/// a points file that its own bitmap would replace), refused before anything is
/// read or written.
class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The caller asked for the work to stop (an interrupt from Python, say); whatever
/// was being written is left as it was.
class EStopped : public std::runtime_error {
public:
    EStopped() : std::runtime_error("The work was stopped.") {}
};

/// Memory could not be had. A std::bad_alloc, so that every handler of one takes
/// it, whose message says what needed the memory and how much.
class EOutOfMemory : public std::bad_alloc {
public:
    explicit EOutOfMemory(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

/// Raises EOutOfMemory: "There is not enough memory for <what> (<size>)."
[[noreturn]] void RaiseOutOfMemory(const std::string& what, std::uint64_t bytes);

/// The message for a std::bad_alloc met while doing something: an EOutOfMemory's
/// own, or "There is not enough memory <doing>." for a bare one.
std::string OutOfMemoryText(const std::bad_alloc& error, const std::string& doing);
