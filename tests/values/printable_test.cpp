#include "values/printable.h"

#include <gtest/gtest.h>

namespace {

TEST(Printable, EscapesEveryControlCharacterAndKeepsTheRest) {
  EXPECT_EQ(forms::printable("/home/a\x1b[2Jb\nfake: line\r\t\x7f"), "/home/a\\x1B[2Jb\\x0Afake: line\\x0D\\x09\\x7F");
  EXPECT_EQ(forms::printable(std::string("a\0b", 3)), "a\\x00b");
  EXPECT_EQ(forms::printable("C:\\Pictures\\\xC3\xA9t\xC3\xA9.jpg"), "C:\\Pictures\\\xC3\xA9t\xC3\xA9.jpg");
}

}  // namespace
