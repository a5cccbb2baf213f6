// Makes non-throwing array allocations fail on demand, to test the out-of-memory paths. A test that
// uses NothrowArrayAllocationFails links in this library's replacement of the global
// operator new[](size_t, nothrow_t).
#pragma once

namespace test_support {

// While an object of this class lives, every `new (std::nothrow) T[n]` returns null.
class NothrowArrayAllocationFails {
public:
    NothrowArrayAllocationFails();
    ~NothrowArrayAllocationFails();
    NothrowArrayAllocationFails(const NothrowArrayAllocationFails&) = delete;
    NothrowArrayAllocationFails& operator=(const NothrowArrayAllocationFails&) = delete;
};

}  // namespace test_support
