// Shared set-up of the reporters' unit tests: the fake host with the
// scripted dashboard on loopback, and views of what the program did.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/base64.h"
#include "common/testing/fake_host.h"
#include "common/testing/fake_kernel.h"
#include "common/testing/http_server.h"
#include "common/transport.h"

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ("", dashboard.error());
    dashboard_link().port = dashboard.port();
    set_eth0_mac(true);
  }
  // eth0 with its MAC, or no eth0 at all.
  void set_eth0_mac(bool present) {
    kernel.links.erase("eth0");
    if (present) kernel.links["eth0"] = FakeLink{.mac = "00:1A:2B:3C:4D:5E"};
  }

  // Log lines of one priority.
  std::vector<std::string> logs(int priority) const { return fake.logs_at(priority); }
  static int count_of(const std::string& text, const std::string& piece) {
    int n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++n;
    return n;
  }
  // The value of a field ("data=", "mac=") in a request, up to the next
  // "&", blank or the end.
  static std::string field(const std::string& request, const std::string& name) {
    size_t at = request.find(name);
    if (at == std::string::npos) return "<none>";
    at += name.size();
    size_t end = request.find_first_of("& ", at);
    return request.substr(at, end == std::string::npos ? std::string::npos : end - at);
  }
  static std::string decoded(const std::string& encoded) {
    static FixedText<40000> out;
    b64_decode(encoded.c_str(), out);
    return out.c_str();
  }

  ScriptedServer dashboard;
  FakeHost fake;
  ScopedHost scope{fake};
  FakeKernel kernel;
  ScopedKernel kernel_scope{kernel};
};
