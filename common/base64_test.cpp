#include "common/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

struct Vector {
  const char* text;
  const char* encoded;
};

// RFC 4648, section 10, and bytes with the high bit set.
const Vector kVectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
    {"\xff\xfe", "//4="},
    {"00:1A:2B:3C:4D:5E", "MDA6MUE6MkI6M0M6NEQ6NUU="},
};

}  // namespace

TEST(Base64, StandardVectorsBothWays) {
  for (const Vector& v : kVectors) {
    FixedText<64> enc;
    EXPECT_TRUE(b64_encode(v.text, enc));
    EXPECT_STREQ(v.encoded, enc.c_str()) << v.text;
    FixedText<64> dec;
    EXPECT_TRUE(b64_decode(v.encoded, dec));
    EXPECT_STREQ(v.text, dec.c_str()) << v.encoded;
  }
}

TEST(Base64, DecodingRules) {
  const Vector cases[] = {
      // Characters outside the alphabet (line ends, blanks, "-") are skipped.
      {"foobar", "Zm9v\nYmFy"},
      {"foobar", " Zm9v YmFy\r\n"},
      {"foo", "Zm-9v"},
      // The first "=" ends the decoding with the group collected so far.
      {"f", "Zg==Zm9v"},
      {"fo", "Zm8=Zm9v"},
      {"foo", "Zm9v=Zm9v"},
      // An unpadded final group is dropped with its one or two bytes.
      {"foo", "Zm9vYg"},
      {"foo", "Zm9vYmE"},
      {"", "Zm9"},
      // A zero byte ends what its group gives; the next group goes on.
      {"", "AEFC"},
      {"A", "QQBC"},
      {"foo", "AAAAZm9v"},
      {"", "="},
  };
  for (const Vector& c : cases) {
    FixedText<64> dec;
    EXPECT_TRUE(b64_decode(c.encoded, dec));
    EXPECT_EQ(std::string(c.text), dec.c_str()) << "input " << c.encoded;
  }
}

TEST(Base64, BlocksAppendToTheTextInOut) {
  char out[16] = "ab";
  const unsigned char in[3] = {'f', 'o', 'o'};
  EXPECT_TRUE(encodeblock(in, out, sizeof(out), 1));
  EXPECT_TRUE(encodeblock(in, out, sizeof(out), 2));
  EXPECT_TRUE(encodeblock(in, out, sizeof(out), 3));
  EXPECT_STREQ("abZg==Zm8=Zm9v", out);
  // No room for four more characters and a terminator: out stays as it is.
  EXPECT_FALSE(encodeblock(in, out, sizeof(out), 3));
  EXPECT_STREQ("abZg==Zm8=Zm9v", out);

  char text[8] = "x";
  const unsigned char foo[4] = {25, 38, 61, 47};  // "Zm9v"
  EXPECT_TRUE(decodeblock(foo, text, sizeof(text)));
  EXPECT_STREQ("xfoo", text);
  const unsigned char a_zero_b[4] = {16, 16, 0, 0};  // 'A', 0, ...: stops at the zero
  EXPECT_TRUE(decodeblock(a_zero_b, text, sizeof(text)));
  EXPECT_STREQ("xfooA", text);
}

TEST(Base64, OutputsNeverPassTheirCapacity) {
  char enc[10];
  memset(enc, 'Z', sizeof(enc));
  EXPECT_FALSE(b64_encode("foobar", enc, 8));  // two groups need 9 bytes
  EXPECT_STREQ("Zm9v", enc);                   // whole groups only
  EXPECT_EQ('Z', enc[8]);
  EXPECT_TRUE(b64_encode("foobar", enc, 9));
  EXPECT_STREQ("Zm9vYmFy", enc);

  char dec[5];
  memset(dec, 'Z', sizeof(dec));
  EXPECT_FALSE(b64_decode("Zm9vYmFy", dec, 4));
  EXPECT_STREQ("foo", dec);
  EXPECT_EQ('Z', dec[4]);
}

TEST(Base64, AnEncodingCutShortIsNotComplete) {
  const std::pair<const char*, bool> cases[] = {
      {"", true},           {"Zm9v", true},    {"Zm9vYg==", true}, {"Zm8=", true},
      {"Zm9vYmFy\n", true}, {"Zm9\nv", true},  {"Zg==Zm9", true},  // the first "=" ends it
      {"Zm9vY", false},     {"Zm9vYm", false}, {"Zm9vYmF", false}, {"Zm9 vY m", false},
  };
  for (const auto& [text, complete] : cases) EXPECT_EQ(complete, b64_complete(text)) << text;
}
