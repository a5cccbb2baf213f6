// Makes the engine's non-throwing array allocations fail on demand, to test the out-of-memory paths.
// Linking allocation_failure.cpp replaces the global operator new[](size_t, nothrow_t) of the test.
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
