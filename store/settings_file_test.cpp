#include "store/settings_file.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tovalink {
namespace {

TEST(MaskTest, RoundTripsAndOneCharacter) {
  for (const std::string plain : {"outlet", "r00t pass!", "a", "", "~~~~", "8:=;"}) {
    EXPECT_EQ(UnmaskSetting(MaskSetting(plain)), plain) << plain;
  }
  // One character: only the initial offset applies.
  EXPECT_EQ(UnmaskSetting(std::string(1, static_cast<char>('x' + 30))), "x");
  EXPECT_EQ(UnmaskSetting(MaskSetting("caf\xe9")), "caf\xe9");
  EXPECT_THROW(MaskSetting("a\xdc"), std::invalid_argument);  // would store "="
}

TEST(SettingsFileTest, KeysAndValues) {
  const std::string text =
      "  IPSERVER  = db.outlet ;\r\n"
      "dbname=" + MaskSetting("toko") + "\r\n"
      "user=" + MaskSetting("kasir") + "=ignored after the second equals\r\n"
      "pass=" + MaskSetting("x") + "\r\n"
      "no equals sign here\r\n"
      "other=1\n"
      "ipserver=later ; wins\r\n";
  const ConnectionSettings settings = ParseSettingsFile(text);
  EXPECT_EQ(settings.host, "later  wins");
  EXPECT_EQ(settings.database, "toko");
  EXPECT_EQ(settings.user, "kasir");
  EXPECT_EQ(settings.password, "x");
  // The value is trimmed before ";" goes, so a blank before a final ";" stays.
  EXPECT_EQ(ParseSettingsFile("ipserver=host ;\r\n").host, "host ");
}

}  // namespace
}  // namespace tovalink
