#pragma once

// The message of the Exception that Operation throws, or "" when it throws
// none: for tests that compare what a failure says.

#include "Errors.h"

#include <string>

template <typename TOperation> std::string ThrownMessage(TOperation Operation) {
    try {
        Operation();
    } catch (const Exception& E) {
        return E.Message();
    }
    return "";
}
