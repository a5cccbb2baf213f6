// Framework strings: the wide-string helpers as tables, and CxString's ownership and formatting.
#include "manager/framework/windows/cx_string.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

namespace {

std::wstring Text(const wchar_t* text)
{
    return text != nullptr ? text : L"<null>";
}

TEST(CxStringTest, CompareTable)
{
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        int mode;
        int expected;
    } const cases[] = {
        // An empty text sorts first whatever the mode (even an unknown one); two empties are equal.
        {L"", L"x", 0, -1},
        {nullptr, L"x", 1, -1},
        {L"", L"x", 2, -1},
        {nullptr, L"x", 3, -1},
        {L"", L"x", 9, -1},
        {L"x", L"", 0, 1},
        {L"x", nullptr, 9, 1},
        {L"", nullptr, 0, 0},
        {nullptr, nullptr, 9, 0},
        // Exact: character codes ('B' < 'a').
        {L"abc", L"abc", 0, 0},
        {L"abc", L"abd", 0, -1},
        {L"a", L"B", 0, 1},
        {L"ABC", L"abc", 0, -1},
        // Case-insensitive.
        {L"ABC", L"abc", 1, 0},
        {L"a", L"B", 1, -1},
        // Locale collation: letters before case ('a' < 'B'), case still counts in mode 2.
        {L"a", L"B", 2, -1},
        {L"abc", L"ABC", 2, -1},
        {L"ABC", L"abc", 3, 0},
        {L"b", L"A", 3, 1},
        // Another mode.
        {L"a", L"b", 4, INT_MAX},
        {L"a", L"a", -1, INT_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << Text(c.a).c_str() << " / " << Text(c.b).c_str() << " mode " << c.mode);
        EXPECT_EQ(CxStrCompare(c.a, c.b, c.mode), c.expected);
    }
}

TEST(CxStringTest, FindTable)
{
    struct Case {
        const wchar_t* text;
        const wchar_t* what;
        BOOL substring;
        HRESULT hr;
        int position;
        // clang-format off
    } const cases[] = {
        {L"hello world", L"world", TRUE, S_OK, 6},
        {L"hello world", L"wx", TRUE, E_FAIL, -1},
        {L"hello world", L"wx", FALSE, S_OK, 6},     // only the first character counts
        {L"hello", L"lo", FALSE, S_OK, 2},
        {L"hello", L"z", FALSE, E_FAIL, -1},
        {L"abc", L"", TRUE, S_OK, 0},
        {L"abc", L"", FALSE, E_FAIL, -1},            // the terminator is not a character of the text
        {L"", L"a", TRUE, E_INVALIDARG, -1},
        {nullptr, L"a", FALSE, E_INVALIDARG, -1},
        {L"abc", nullptr, TRUE, E_INVALIDARG, -1},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << Text(c.text).c_str() << " / " << Text(c.what).c_str());
        int position = -1;
        EXPECT_EQ(CxStrFind(c.text, c.what, &position, c.substring), c.hr);
        EXPECT_EQ(position, c.position);
    }
}

TEST(CxStringTest, SplitAtTable)
{
    struct Case {
        const wchar_t* text;
        BOOL before;
        wchar_t character;
        const wchar_t* expected;
        // clang-format off
    } const cases[] = {
        {L"Prompt\nTip", FALSE, L'\n', L"Tip"},
        {L"Prompt\nTip", TRUE, L'\n', L"Prompt"},
        {L"a\nb\nc", FALSE, L'\n', L"b\nc"},          // at the first occurrence
        {L"NoBreak", FALSE, L'\n', L"NoBreak"},
        {L"NoBreak", TRUE, L'\n', L"NoBreak"},
        {L"\nTip", TRUE, L'\n', nullptr},             // an empty part is the null text
        {L"Prompt\n", FALSE, L'\n', nullptr},
        {nullptr, TRUE, L'\n', nullptr},
    };
    // clang-format on
    const long blocks = CxAllocCount();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << Text(c.text).c_str() << " before " << c.before);
        wchar_t* part = CxStrSplitAt(c.text, c.before, c.character);
        EXPECT_EQ(Text(part), Text(c.expected));
        CxFree(part);
    }
    EXPECT_EQ(CxAllocCount(), blocks);
}

TEST(CxStringTest, DupAndLength)
{
    wchar_t* copy = reinterpret_cast<wchar_t*>(1);
    EXPECT_EQ(CxStrDup(&copy, nullptr), S_OK);
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(CxStrDup(&copy, L""), S_OK);
    EXPECT_EQ(copy, nullptr);
    const wchar_t* source = L"abc";
    ASSERT_EQ(CxStrDup(&copy, source), S_OK);
    EXPECT_NE(copy, source);
    EXPECT_STREQ(copy, L"abc");
    CxFree(copy);
    EXPECT_EQ(CxStrDup(nullptr, L"x"), E_INVALIDARG);
    EXPECT_EQ(CxStrLen(nullptr), 0);
    EXPECT_EQ(CxStrLen(L""), 0);
    EXPECT_EQ(CxStrLen(L"abcd"), 4);
}

TEST(CxStringTest, FormatTable)
{
    const std::wstring longText(20000, L'x');
    struct Case {
        const char* name;
        std::function<HRESULT(CxString&)> format;
        std::wstring expected;
    };
    const Case cases[] = {
        {"wide %s and numbers", [](CxString& s) { return s.Format(L"%s%d,%x", L"Path.", 4004, 255); }, L"Path.4004,ff"},
        {"a 20000-character result keeps 16383", [&](CxString& s) { return s.Format(L"%s", longText.c_str()); },
         std::wstring(16383, L'x')},
        {"exactly 16383", [&](CxString& s) { return s.Format(L"%.16383s", longText.c_str()); },
         std::wstring(16383, L'x')},
        {"an empty format", [](CxString& s) { return s.Format(L""); }, L""},
        {"a null format", [](CxString& s) { return s.Format(nullptr); }, L""},
        {"the string's own text as argument",
         [](CxString& s) { return s.Format(L"%s!", static_cast<const wchar_t*>(s)); }, L"old!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CxString s(L"old");
        ASSERT_EQ(c.format(s), S_OK);
        EXPECT_EQ(s.GetLength(), static_cast<int>(c.expected.size()));
        EXPECT_EQ(Text(s), c.expected.empty() ? L"<null>" : c.expected);
        EXPECT_EQ(s.IsEmpty(), c.expected.empty());
    }
}

TEST(CxStringTest, OwnershipAttachDetachAssign)
{
    const long blocks = CxAllocCount();
    {
        CxString empty(L"");
        EXPECT_TRUE(empty.IsEmpty());
        EXPECT_EQ(static_cast<const wchar_t*>(empty), nullptr);

        CxString s(L"first");
        wchar_t* buffer = s.Detach();
        EXPECT_TRUE(s.IsEmpty());
        EXPECT_STREQ(buffer, L"first");

        CxString t(L"other");
        t.Attach(buffer);  // frees "other", owns buffer
        EXPECT_EQ(static_cast<const wchar_t*>(t), buffer);

        EXPECT_EQ(t.Assign(t), S_OK);  // its own text
        EXPECT_STREQ(t, L"first");
        t = t;
        EXPECT_STREQ(t, L"first");

        CxString copy(t);
        EXPECT_NE(static_cast<const wchar_t*>(copy), static_cast<const wchar_t*>(t));
        CxString moved(std::move(copy));
        EXPECT_TRUE(copy.IsEmpty());
        EXPECT_STREQ(moved, L"first");

        wchar_t* blank = nullptr;
        CxStrDup(&blank, L"x");
        blank[0] = 0;
        moved.Attach(blank);  // an empty buffer makes the empty string
        EXPECT_TRUE(moved.IsEmpty());

        CxString filled;
        ASSERT_EQ(CxStrDup(filled.GetAddress(), L"through the address"), S_OK);
        EXPECT_EQ(filled.GetLength(), 19);

        int position = -1;
        EXPECT_EQ(filled.Find(L"the", &position), S_OK);
        EXPECT_EQ(position, 8);
        EXPECT_EQ(empty.Find(L"x", &position), E_INVALIDARG);
    }
    EXPECT_EQ(CxAllocCount(), blocks);
}

}  // namespace
