#pragma once

// What a filter expression reads from the object it is evaluated on: the value of a named term
// (for an e-mail, a header field or the body). Lives in this layer because the e-mail object
// implements it and the filter evaluator above only needs the interface.

#include "common/StringBuffer.h"

#include <string_view>

namespace norvane {

class ExpressionTermSource {
public:
    virtual ~ExpressionTermSource() = default;
    // Appends the value of the term called name to out (nothing when it has none).
    virtual void getTermValue(std::string_view name, StringBuffer& out) const = 0;
};

} // namespace norvane
