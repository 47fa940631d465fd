#include "common/station_format.h"

#include <gtest/gtest.h>
#include <linux/nl80211.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "common/testing/fake_host.h"
#include "common/testing/nl_message.h"

namespace {

// A rate attribute built by `fill` inside NL80211_STA_INFO_TX_BITRATE.
template <typename Fill>
std::string rate_text(Fill fill, size_t size = BitrateText::capacity()) {
  NlMessage m(NL80211_CMD_NEW_STATION);
  m.begin(NL80211_STA_INFO_TX_BITRATE);
  fill(m);
  m.end();
  char out[BitrateText::capacity()];
  memset(out, 'x', sizeof(out));
  format_bitrate(m.last(), out, size);
  return out;
}

}  // namespace

TEST(StationMac, LowerCaseHexPairs) {
  const unsigned char mac[6] = {0x00, 0x11, 0x2a, 0xbc, 0xde, 0xff};
  StationMacText text;
  format_station_mac(text, mac);
  EXPECT_STREQ("00:11:2a:bc:de:ff", text.c_str());
}

TEST(Bitrate, RateTexts) {
  using M = NlMessage;
  // The 32-bit rate wins over the 16-bit one.
  EXPECT_EQ("65.0 MBit/s",
            rate_text([](M& m) { m.u16(NL80211_RATE_INFO_BITRATE, 540).u32(NL80211_RATE_INFO_BITRATE32, 650); }));
  EXPECT_EQ("5.5 MBit/s", rate_text([](M& m) { m.u16(NL80211_RATE_INFO_BITRATE, 55); }));
  EXPECT_EQ("6933.3 MBit/s", rate_text([](M& m) { m.u32(NL80211_RATE_INFO_BITRATE32, 69333); }));
  // Rate 0 with an MCS starts with the blank of " MCS".
  EXPECT_EQ(" MCS 7", rate_text([](M& m) { m.u16(NL80211_RATE_INFO_BITRATE, 0).u8(NL80211_RATE_INFO_MCS, 7); }));
  EXPECT_EQ("", rate_text([](M&) {}));
  // Every piece, in its order.
  EXPECT_EQ("866.7 MBit/s MCS 7 VHT-MCS 9 40MHz 80MHz 80P80MHz 160MHz short GI VHT-NSS 2", rate_text([](M& m) {
              m.u8(NL80211_RATE_INFO_VHT_NSS, 2)
                  .flag(NL80211_RATE_INFO_SHORT_GI)
                  .flag(NL80211_RATE_INFO_160_MHZ_WIDTH)
                  .flag(NL80211_RATE_INFO_80P80_MHZ_WIDTH)
                  .flag(NL80211_RATE_INFO_80_MHZ_WIDTH)
                  .flag(NL80211_RATE_INFO_40_MHZ_WIDTH)
                  .u8(NL80211_RATE_INFO_VHT_MCS, 9)
                  .u8(NL80211_RATE_INFO_MCS, 7)
                  .u16(NL80211_RATE_INFO_BITRATE, 8667);
            }));
  // A short buffer cuts the text.
  EXPECT_EQ("65.0 MB", rate_text([](M& m) { m.u16(NL80211_RATE_INFO_BITRATE, 650); }, 8));
}

TEST(Bitrate, MalformedRateAttributesReplaceTheText) {
  using M = NlMessage;
  const std::string failed = "failed to parse nested rate attributes!";
  // Shorter than their types.
  EXPECT_EQ(failed, rate_text([](M& m) { m.u8(NL80211_RATE_INFO_BITRATE, 54); }));
  EXPECT_EQ(failed, rate_text([](M& m) { m.u16(NL80211_RATE_INFO_BITRATE32, 650); }));
  EXPECT_EQ(failed, rate_text([](M& m) { m.put(NL80211_RATE_INFO_MCS, nullptr, 0); }));
  EXPECT_EQ(failed, rate_text([](M& m) { m.put(NL80211_RATE_INFO_VHT_NSS, nullptr, 0); }));
  // An attribute that claims more than the nest holds.
  EXPECT_EQ(failed, rate_text([](M& m) { m.u16(NL80211_RATE_INFO_BITRATE, 650).stretch_last(8); }));
  EXPECT_EQ("failed to parse", rate_text([](M& m) { m.u8(NL80211_RATE_INFO_MCS, 1).stretch_last(4); }, 16));
}

TEST(ChainSignal, EntriesInOrderAndMalformedLists) {
  NlMessage m(NL80211_CMD_NEW_STATION);
  ChainSignalText text("old");
  m.begin(NL80211_STA_INFO_CHAIN_SIGNAL_AVG);
  for (int8_t v : {-54, -57, -60, -61}) m.u8(0, static_cast<uint8_t>(v));
  m.end();
  EXPECT_TRUE(format_chain_signal(m.last(), text));
  EXPECT_STREQ("[-54, -57, -60, -61] ", text.c_str());

  m.begin(NL80211_STA_INFO_CHAIN_SIGNAL_AVG).end();
  EXPECT_TRUE(format_chain_signal(m.last(), text));
  EXPECT_STREQ("", text.c_str());

  // Twenty chains stop at the 64-byte text.
  m.begin(NL80211_STA_INFO_CHAIN_SIGNAL_AVG);
  for (int i = 0; i < 20; ++i) m.u8(i, static_cast<uint8_t>(-100));
  m.end();
  EXPECT_TRUE(format_chain_signal(m.last(), text));
  EXPECT_EQ(63u, text.size());
  EXPECT_EQ(0, strncmp("[-100, -100, ", text.c_str(), 13));

  m.begin(NL80211_STA_INFO_CHAIN_SIGNAL_AVG).u8(0, 200).put(1, nullptr, 0).end();
  EXPECT_FALSE(format_chain_signal(m.last(), text));
  m.begin(NL80211_STA_INFO_CHAIN_SIGNAL_AVG).u8(0, 200).stretch_last(4).end();
  EXPECT_FALSE(format_chain_signal(m.last(), text));
}

TEST(ClientRecordFile, AppendsLinesAndFailsWithoutTheFolder) {
  FakeHost fake;
  ScopedHost scope(fake);
  EXPECT_EQ(0, append_client_record("mac=00:11:22:33:44:55;rx=1;tx=2"));
  EXPECT_EQ(0, append_client_record("mac=00:11:22:33:44:66"));
  EXPECT_EQ("mac=00:11:22:33:44:55;rx=1;tx=2\nmac=00:11:22:33:44:66\n", fake.read("/tmp/.clients"));
  fake.remove("/tmp/.clients");
  rmdir(fake.path("/tmp").c_str());
  EXPECT_EQ(1, append_client_record("mac=00:11:22:33:44:55"));
}

TEST(ClientRecordFile, WaitsForAnotherWritersLock) {
  FakeHost fake;
  ScopedHost scope(fake);
  fake.write("/tmp/.clients", "first\n");
  int fd = open(fake.path("/tmp/.clients").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, flock(fd, LOCK_EX));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(append_client_record("second"));
  usleep(200 * 1000);
  EXPECT_EQ("first\n", fake.read("/tmp/.clients"));  // the writer waits for the lock
  flock(fd, LOCK_UN);
  close(fd);
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_EQ("first\nsecond\n", fake.read("/tmp/.clients"));
}
