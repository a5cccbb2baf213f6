// The framework's growable array: growth by the step, copies of its own elements, size changes that
// destroy what they drop, and the fatal range error.
#include "manager/framework/windows/cx_array.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct RangeError {
    std::wstring message;
};

void ThrowingFatalHook(const wchar_t* message)
{
    throw RangeError{message};
}

class CxArrayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_previousHook = CxSetFatalErrorHook(&ThrowingFatalHook);
        m_blocks = CxAllocCount();
    }
    void TearDown() override
    {
        CxSetFatalErrorHook(m_previousHook);
        EXPECT_EQ(CxAllocCount(), m_blocks);  // nothing leaked
    }

private:
    CxFatalErrorHook m_previousHook = nullptr;
    long m_blocks = 0;
};

TEST_F(CxArrayTest, AddGrowsByTheStep)
{
    for (int step : {1, 3}) {
        SCOPED_TRACE(step);
        CxArray<int> a(step);
        for (int n = 1; n <= 7; ++n) {
            ASSERT_EQ(a.Add(n * 10), 1);
            EXPECT_EQ(a.GetCount(), n);
            EXPECT_EQ(a.GetCapacity(), (n + step - 1) / step * step);
        }
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(a.ElementAt(i), (i + 1) * 10);
    }
}

TEST_F(CxArrayTest, SetGrowByRefusesNonPositiveSteps)
{
    CxArray<int> a(2);
    EXPECT_EQ(a.SetGrowBy(0), 0);
    EXPECT_EQ(a.SetGrowBy(-1), 0);
    a.Add(1);
    EXPECT_EQ(a.GetCapacity(), 2);  // the step stayed 2
    EXPECT_EQ(a.SetGrowBy(5), 1);
    a.Add(2);
    a.Add(3);
    EXPECT_EQ(a.GetCapacity(), 7);
}

TEST_F(CxArrayTest, AddingOwnElementCopiesItBeforeGrowing)
{
    CxArray<CxString> a(1);  // every Add reallocates
    a.Add(CxString(L"seed"));
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(a.Add(a.ElementAt(i)), 1);
    ASSERT_EQ(a.GetCount(), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_STREQ(a.ElementAt(i), L"seed");
}

TEST_F(CxArrayTest, SetSizeTable)
{
    struct Case {
        int n;
        int result;
        int count;
        int capacity;
        // clang-format off
    } const cases[] = {
        {-1, 0, 5, 5},   // refused
        {5, 1, 5, 5},
        {3, 1, 3, 3},    // the two dropped elements are destroyed (checked by the block count)
        {10, 1, 5, 10},  // more room, the count stays
        {0, 1, 0, 0},    // RemoveAll
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        CxArray<CxString> a(5);
        for (const wchar_t* text : {L"a", L"b", L"c", L"d", L"e"})
            a.Add(CxString(text));
        const long before = CxAllocCount();
        EXPECT_EQ(a.SetSize(c.n), c.result);
        EXPECT_EQ(a.GetCount(), c.count);
        EXPECT_EQ(a.GetCapacity(), c.capacity);
        // Each dropped text is freed; a new storage block replaces the old one unless emptied.
        const long dropped = 5 - c.count;
        const long storage = (c.capacity == 0) ? -1 : 0;
        EXPECT_EQ(CxAllocCount(), before - dropped + storage);
        for (int i = 0; i < a.GetCount(); ++i)
            EXPECT_EQ(a.ElementAt(i)[0], L"abcde"[i]);
        if (c.capacity > c.count) {
            EXPECT_EQ(a.Add(CxString(L"z")), 1);  // into the room made
            EXPECT_EQ(a.GetCapacity(), c.capacity);
        }
    }
}

TEST_F(CxArrayTest, SetAtAndRemoveAll)
{
    CxArray<CxString> a;
    a.Add(CxString(L"one"));
    a.Add(CxString(L"two"));
    EXPECT_EQ(a.SetAt(2, CxString(L"x")), 0);
    EXPECT_EQ(a.SetAt(-1, CxString(L"x")), 0);
    EXPECT_EQ(a.SetAt(1, CxString(L"zwei")), 1);
    EXPECT_STREQ(a.GetAt(1), L"zwei");
    EXPECT_EQ(a.SetAt(0, a.ElementAt(1)), 1);
    EXPECT_STREQ(a.GetAt(0), L"zwei");
    EXPECT_EQ(a.SetAt(0, a.ElementAt(0)), 1);
    EXPECT_STREQ(a.GetAt(0), L"zwei");
    a.RemoveAll();
    EXPECT_EQ(a.GetCount(), 0);
    EXPECT_EQ(a.GetCapacity(), 0);
    EXPECT_FALSE(a.IsValidIndex(0));
}

TEST_F(CxArrayTest, InvalidIndexIsFatal)
{
    struct Case {
        int count;
        int index;
        const wchar_t* message;
        // clang-format off
    } const cases[] = {
        {3, 3, L"index [3] is out of range [0-2]\n\n"},
        {3, -1, L"index [-1] is out of range [0-2]\n\n"},
        {0, 0, L"index [0] is out of range [0-0]\n\n"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        CxArray<int> a;
        for (int i = 0; i < c.count; ++i)
            a.Add(i);
        EXPECT_EQ(a.IsValidIndex(c.index), false);
        try {
            a.ElementAt(c.index);
            ADD_FAILURE() << "no fatal error";
        } catch (const RangeError& e) {
            EXPECT_EQ(e.message, c.message);
        }
    }
    EXPECT_STREQ(CxRangeErrorFormat(), L"index [%d] is out of range [0-%d]\n\n");
}

}  // namespace
