#pragma once
#include "EngineError.h"

// A stored Outlook item that cannot be read at all (not the form it claims,
// or cut before anything readable). Damage further in gives the readable
// part instead.
class EOutlookError : public EMailError {
public:
    explicit EOutlookError(const std::string& message) : EMailError(message) {}
};
