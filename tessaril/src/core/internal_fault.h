// A broken internal invariant: not an input error, never an ErrorKind. The
// only exception the engine throws; the module surface reports it as an
// internal fault.
#pragma once

#include <stdexcept>

namespace tessaril {

class InternalFault : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

}  // namespace tessaril
