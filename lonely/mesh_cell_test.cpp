#include "lonely/mesh_cell.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/testing/fake_host.h"
#include "common/testing/fake_kernel.h"
#include "lonely/testing/stand_in_scan.h"
#include "lonely/testing/stand_in_supplicant.h"

namespace {

class MeshCell : public ::testing::Test {
 protected:
  MeshCell() {
    StandInScan::reset();
    kernel.scan_backends["mesh0"] = &StandInScan::ops;
  }
  FakeHost fake;
  ScopedHost scope{fake};
  FakeKernel kernel;
  ScopedKernel kernel_scope{kernel};
};

}  // namespace

TEST_F(MeshCell, TheFirstAdHocMeshCellOnAnotherChannelWins) {
  scan_entry unterminated = cell(kCell, "", kModeAdHoc, 6);
  memset(unterminated.ssid, 'm', sizeof(unterminated.ssid));
  struct Case {
    const char* name;
    std::vector<scan_entry> records;
    int current;
    int found;
    std::string printed;
  };
  const std::vector<Case> cases = {
      {"the cell on 6 while the radio is on 11",
       {cell(kCell, "mesh", kModeAdHoc, 6)},
       11,
       6,
       "Found BSSID on Channel: 6\n"},
      {"the cell only on the current channel", {cell(kCell, "mesh", kModeAdHoc, 11)}, 11, 0, ""},
      {"another name", {cell(kCell, "mesh2", kModeAdHoc, 6)}, 11, 0, ""},
      {"an access point with the cell's address", {cell(kCell, "mesh", kModeMaster, 6)}, 11, 0, ""},
      {"another address", {cell("02:ca:fe:ca:ca:41", "mesh", kModeAdHoc, 6)}, 11, 0, ""},
      {"a hidden name", {cell(kCell, "", kModeAdHoc, 6)}, 11, 0, ""},
      {"a name without terminator", {unterminated}, 11, 0, ""},
      {"list order decides, not the signal",
       {cell(kCell, "mesh", kModeAdHoc, 11), cell("00:11:22:33:44:55", "mesh", kModeAdHoc, 3),
        cell(kCell, "mesh", kModeAdHoc, 1), cell(kCell, "mesh", kModeAdHoc, 6)},
       11,
       1,
       "Found BSSID on Channel: 1\n"},
      {"channel auto (0)", {cell(kCell, "mesh", kModeAdHoc, 6)}, 0, 6, "Found BSSID on Channel: 6\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StandInScan::records = c.records;
    fake.stdout_text.clear();
    EXPECT_EQ(c.found, scan_for_mesh_cell(&StandInScan::ops, "mesh0", c.current));
    EXPECT_EQ(c.printed, fake.stdout_text);
  }
}

TEST_F(MeshCell, FailedEmptyAndOverlongScans) {
  StandInScan::result = -1;
  EXPECT_EQ(-1, scan_for_mesh_cell(&StandInScan::ops, "mesh0", 11));
  EXPECT_EQ("Scanning not possible\n\n", fake.stdout_text);
  fake.stdout_text.clear();
  StandInScan::result = 0;
  EXPECT_EQ(-1, scan_for_mesh_cell(&StandInScan::ops, "mesh0", 11));
  EXPECT_EQ("No scan results\n\n", fake.stdout_text);
  fake.stdout_text.clear();
  // A length beyond the buffer: only what the buffer holds is read.
  StandInScan::records = {cell(kCell, "mesh2", kModeAdHoc, 6)};
  StandInScan::claimed_len = 1 << 30;
  EXPECT_EQ(0, scan_for_mesh_cell(&StandInScan::ops, "mesh0", 11));
  EXPECT_EQ("", fake.stdout_text);
}

TEST_F(MeshCell, WcScanNeedsAnInterfaceAndAWirelessBackend) {
  StandInScan::records = {cell(kCell, "mesh", kModeAdHoc, 6)};
  EXPECT_EQ(-1, wc_scan(nullptr, 11));
  EXPECT_EQ(-1, wc_scan("", 11));
  EXPECT_EQ("required interface name to start scanrequired interface name to start scan", fake.stderr_text);
  fake.stderr_text.clear();
  kernel.scan_backends.clear();  // mesh0 has no nl80211 radio
  EXPECT_EQ(-1, wc_scan("mesh0", 11));
  EXPECT_EQ("No such wireless device: mesh0\n", fake.stderr_text);
  EXPECT_EQ(0, StandInScan::scans);
  kernel.scan_backends["mesh0"] = &StandInScan::ops;
  EXPECT_EQ(6, wc_scan("mesh0", 11));
  EXPECT_EQ(1, StandInScan::scans);
}

TEST_F(MeshCell, CellsHeardThroughTheSupplicantAreNeverTakenForTheAdHocCell) {
  // The supplicant reports every cell as an access point, the mesh cell too.
  StandInSupplicant supplicant(fake, "mesh0", [](const std::string& request) -> std::vector<std::string> {
    if (request == "ATTACH") return {"OK\n"};
    if (request == "SCAN") return {"OK\n", "<2>CTRL-EVENT-SCAN-RESULTS "};
    if (request == "SCAN_RESULTS") {
      return {
          "bssid / frequency / signal level / flags / ssid\n"
          "02:ca:fe:ca:ca:40\t2437\t-60\t[IBSS]\tmesh\n"};
    }
    return {"UNKNOWN COMMAND\n"};
  });
  ASSERT_TRUE(supplicant.ready());
  const scan_backend_ops backend = {nl80211_get_scanlist, iwinfo_finish};
  EXPECT_EQ(0, scan_for_mesh_cell(&backend, "mesh0", 11));
  EXPECT_EQ((std::vector<std::string>{"ATTACH", "SCAN", "SCAN_RESULTS"}), supplicant.requests());
  EXPECT_EQ("", fake.stdout_text);
  iwinfo_finish();
}
