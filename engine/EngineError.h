#pragma once
#include <stdexcept>
#include <string>

// The one error type of the message engine. Decoders never raise it; it
// comes from operations on parts, files and attachment lists.
class EMailError : public std::runtime_error {
public:
    explicit EMailError(const std::string& message) : std::runtime_error(message) {}
};

// A file could not be opened or read (the runtime's file-open error).
class EFOpenError : public EMailError {
public:
    explicit EFOpenError(const std::string& message) : EMailError(message) {}
};
