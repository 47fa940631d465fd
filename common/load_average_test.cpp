// The load average's integer reading and printing against the C library's
// float path (fscanf "%f" into a float, printf "%f" and "%.2f"), which the
// check-ins and logs printed before: byte for byte, for the texts the tests
// and fuzz corpora hold, the kernel's whole format and a sweep of numbers.
#include "common/load_average.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Reading {
  bool ok = false;
  bool nan = false;
  std::string printed[4];  // 0, 2, 6 and 9 decimals
};

const int kDecimals[4] = {0, 2, 6, 9};

Reading with_floats(const std::string& text) {
  Reading r;
  FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  float v;
  r.ok = f && fscanf(f, "%f", &v) == 1;
  if (f) fclose(f);
  if (!r.ok) return r;
  r.nan = std::isnan(v);
  for (int i = 0; i < 4; ++i) {
    char out[80];
    snprintf(out, sizeof(out), "%.*f", kDecimals[i], static_cast<double>(v));
    r.printed[i] = out;
  }
  return r;
}

Reading with_integers(const std::string& text) {
  Reading r;
  FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  LoadAverage load;
  r.ok = f && scan_load(f, load);
  if (f) fclose(f);
  if (!r.ok) return r;
  for (int i = 0; i < 4; ++i) {
    char out[64];
    format_load(load, kDecimals[i], out, sizeof(out));
    r.printed[i] = out;
  }
  return r;
}

// Counts the texts whose reading differs, and shows the first few.
int differences(const std::vector<std::string>& texts) {
  int differing = 0;
  for (const std::string& text : texts) {
    if (text.empty()) continue;  // fmemopen refuses an empty buffer
    Reading a = with_floats(text), b = with_integers(text);
    if (a.nan) {
      // Some FPUs (MIPS among them) drop a NaN's sign when they widen it to
      // a double, so the float path is no reference: the text's sign is.
      bool minus = text[text.find_first_not_of(" \t\n\v\f\r")] == '-';
      for (int i = 0; i < 4; ++i) a.printed[i] = minus ? "-nan" : "nan";
    }
    bool same = a.ok == b.ok;
    for (int i = 0; same && a.ok && i < 4; ++i) same = a.printed[i] == b.printed[i];
    if (same) continue;
    if (++differing <= 5) {
      ADD_FAILURE() << "\"" << text << "\": float " << a.ok << " " << a.printed[2] << " " << a.printed[1]
                    << ", integer " << b.ok << " " << b.printed[2] << " " << b.printed[1];
    }
  }
  return differing;
}

std::vector<std::string> corpus_texts() {
  std::vector<std::string> texts;
  std::string dir = std::string(NODE_SOURCE_DIR) + "/fuzz/corpus/proc_info";
  DIR* d = opendir(dir.c_str());
  if (!d) return texts;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream in(dir + "/" + e->d_name, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    if (!bytes.str().empty()) texts.push_back(bytes.str().substr(1));  // after the reader's byte
  }
  closedir(d);
  return texts;
}

}  // namespace

TEST(LoadAverage, TheTestsAndCorporaTextsAndOddSpellings) {
  std::vector<std::string> texts = {
      "0.52 0.58 0.59 1/80 1234\n", "0.25 0.30 0.35 1/80 1234\n", "1e", "1e+", "1e+5", "1.", ".", " .5", "-.5e1",
      "0x", "0x1p3", "0x.8", "0x1p", "0x1.8p1z", "-0x1P-3", "0xg", "0x.", "0x.p3", "-0x..", "0xp3", "0X", ".e5", "0.e", "inf", "INFINITY", "infin", "infx",
      "infinit", "-infinity", "nan", "nan(123)", "-nan", "NaNq", "+", "-", "- 5", "  \n 3", "1.5.5", "00000.1",
      "0.125", "0.375", "2.5", "1e-50", "-1e-50", "1e39", "3.4028235e38", "3.40282356e38", "1e5000", "-0", "0e9",
      "0.0000005", "0.00000050000001", "0.000000499999999999999999999999", "1.4e-45", "7.006e-46", "7.007e-46",
      "1.17549435e-38", "16777217", "16777216.5", "0.000000000000000000000000000000000000000000000000001e50",
      "123456789012345678901234567890123456789012345678901234567890123456789e-60", "99.995", "0.005", "0.015",
  };
  std::vector<std::string> corpora = corpus_texts();
  EXPECT_GE(corpora.size(), 2u);
  texts.insert(texts.end(), corpora.begin(), corpora.end());
  EXPECT_EQ(0, differences(texts));
}

TEST(LoadAverage, TheKernelsWholeFormatAndASweep) {
  std::vector<std::string> texts;
  char text[128];
  // What /proc/loadavg holds: "%lu.%02lu" for every load a router sees.
  for (int whole = 0; whole < 1000; ++whole) {
    for (int hundredths = 0; hundredths < 100; ++hundredths) {
      snprintf(text, sizeof(text), "%d.%02d 0.58 0.59 1/80 1234\n", whole, hundredths);
      texts.push_back(text);
    }
  }
  std::mt19937 random(20261209);
  for (int i = 0; i < 60000; ++i) {
    uint32_t bits = random();
    float f;
    memcpy(&f, &bits, sizeof(f));
    float next = std::nextafter(f, INFINITY);
    double halfway = (static_cast<double>(f) + static_cast<double>(next)) / 2;
    const char* forms[] = {"%.9g", "%a", "%.3e", "%.80g"};
    snprintf(text, sizeof(text), forms[i % 4], i % 4 == 3 ? halfway : static_cast<double>(f));
    texts.push_back(text);
    // Just above and below a halfway point.
    if (i % 4 == 3 && std::isfinite(halfway)) {
      texts.push_back(std::string(text) + "000000000000000000000000000000000000000000000000000000000001");
      snprintf(text, sizeof(text), "%.17g", std::nextafter(halfway, 0.0));
      texts.push_back(text);
    }
    // Loads as a person might write them.
    snprintf(text, sizeof(text), "%u.%0*u", static_cast<unsigned>(random() % 100000), static_cast<int>(random() % 12),
             static_cast<unsigned>(random() % 1000000));
    texts.push_back(text);
  }
  EXPECT_EQ(0, differences(texts));
}
