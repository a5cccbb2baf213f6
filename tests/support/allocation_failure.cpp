#include "tests/support/allocation_failure.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<int> failing{0};

}  // namespace

namespace test_support {

NothrowArrayAllocationFails::NothrowArrayAllocationFails()
{
    ++failing;
}

NothrowArrayAllocationFails::~NothrowArrayAllocationFails()
{
    --failing;
}

}  // namespace test_support

// Same heap as the library's operators (malloc/free), so the default delete[] releases it.
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    if (failing.load() != 0)
        return nullptr;
    return std::malloc(size ? size : 1);
}
