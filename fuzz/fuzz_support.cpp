#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>

#include "controller/program.h"

FakeHost& fuzz_host() {
  static FakeHost host;
  static FakeKernel kernel;  // no interfaces, routes or radios
  set_host(&host);
  set_kernel(&kernel);
  // The controller's row, whose parsers take the most of the dashboard's bytes.
  set_profile(kControllerProfile);
  host.forget();
  kernel.asked.clear();
  return host;
}

void fuzz_fail(const char* file, int line, const char* what) {
  fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
  abort();
}

uint8_t FuzzInput::byte() { return pos_ < size_ ? data_[pos_++] : 0; }

std::string FuzzInput::field() {
  size_t n = byte();
  if (n > left()) n = left();
  std::string out(reinterpret_cast<const char*>(data_ + pos_), n);
  pos_ += n;
  return out;
}

std::string FuzzInput::rest() {
  std::string out(reinterpret_cast<const char*>(data_ + pos_), size_ - pos_);
  pos_ = size_;
  return out;
}
