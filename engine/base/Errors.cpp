#include "base/Errors.h"

#include "base/Text.h"

void RaiseOutOfMemory(const std::string& what, std::uint64_t bytes) {
    throw EOutOfMemory("There is not enough memory for " + what + " (" + ByteSizeText(bytes) +
                       ").");
}

std::string OutOfMemoryText(const std::bad_alloc& error, const std::string& doing) {
    if (const auto* known = dynamic_cast<const EOutOfMemory*>(&error))
        return known->what();
    return "There is not enough memory " + doing + ".";
}
