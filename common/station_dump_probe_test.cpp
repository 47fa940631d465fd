#include <gtest/gtest.h>
TEST(Placeholder, Pending) {}
