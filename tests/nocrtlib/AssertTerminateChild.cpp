// Destroys a still-shared object while an exception travels: the destructor's
// check cannot throw then and must end the process with its report.
#include "../../nocrtlib/RefCountable.h"
#include <cstdio>
#include <stdexcept>

namespace {
struct Shared : RefCountable {};
} // namespace

int main()
{
    try {
        Shared s;
        s.AddRef();
        s.AddRef();
        throw std::runtime_error("travelling");
    } catch (...) {
        std::printf("destructor reached the handler\n");
    }
    return 0;
}
