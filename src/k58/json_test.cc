#include "k58/json.h"

#include <gtest/gtest.h>

namespace pulsecut::k58 {
namespace {

TEST(JsonStringTest, EscapesWhatJsonRequires) {
  EXPECT_EQ(JsonString(""), "\"\"");
  EXPECT_EQ(JsonString("tape.k58"), "\"tape.k58\"");
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString(std::string("\n\t\x01\x1f", 4)), "\"\\u000a\\u0009\\u0001\\u001f\"");
  EXPECT_EQ(JsonString("日本.k58"), "\"日本.k58\"");  // UTF-8 as it is
}

}  // namespace
}  // namespace pulsecut::k58
