// Prints the processor-specific code paths the engine takes here, so that a
// test run can show what it exercised (under an emulated processor, say).
#include <cstdio>

#include "lib/code_paths.h"

int main()
{
    std::puts(tessaril::describe(tessaril::active_code_paths()).c_str());
    return 0;
}
