#include <gtest/gtest.h>
#include <windows.h>
TEST(Smoke, Runs) { EXPECT_EQ(GetACP(), 1252u); EXPECT_EQ(GetOEMCP(), 437u); }
