// What the fuzz targets share: the fake host they run on, a reader that
// takes a target's input apart into fields, and the check that turns a
// broken property into a crash that the fuzzer keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/testing/fake_host.h"
#include "common/testing/fake_kernel.h"

// The fake host of every target, with a fake kernel without interfaces:
// installed, and cleared of what the previous input recorded. Its files stay; a target rewrites those it uses.
FakeHost& fuzz_host();

[[noreturn]] void fuzz_fail(const char* file, int line, const char* what);
#define FUZZ_CHECK(cond) ((cond) ? (void)0 : fuzz_fail(__FILE__, __LINE__, #cond))

// Fields of one input, front to back; a used-up input gives zeros and
// empty texts, so every input means something.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t byte();
  // A length byte, then that many bytes (fewer at the end).
  std::string field();
  // Everything not yet taken.
  std::string rest();
  size_t left() const { return size_ - pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};
