// dbsetting.txt on any text, and the masking of its values. What must hold: reading never
// throws and a value holds no ";"; a plain value that can be masked
// unmasks to itself, and survives a line of the file with a key in capitals and blanks around
// it; an unmasked value that masks again gives back the stored form.
//
// Input fields: the file's text, a plain value.

#include <cstdint>
#include <stdexcept>
#include <string>

#include "fuzz/fuzz_support.h"
#include "store/settings_file.h"

namespace tovalink::fuzz {
namespace {

void CheckMasking(const std::string& plain) {
  std::string stored;
  try {
    stored = MaskSetting(plain);
  } catch (const std::invalid_argument&) {
    return;  // refused with a message for the technician
  }
  Require(UnmaskSetting(stored) == plain, "masking round trip", plain, stored);
  const ConnectionSettings read = ParseSettingsFile("ipserver=db\r\n  DBNAME = " + stored +
                                                    " \r\nUser=" + stored + "\npass=" + stored);
  Require(read.database == plain && read.user == plain && read.password == plain,
          "a masked value survives the file", plain, stored);
}

void CheckUnmasking(const std::string& stored) {
  const std::string plain = UnmaskSetting(stored);
  Require(plain.size() == stored.size(), "unmasking keeps the length", stored);
  try {
    Require(MaskSetting(plain) == stored, "unmask then mask", stored, plain);
  } catch (const std::invalid_argument&) {
  }
}

}  // namespace
}  // namespace tovalink::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovalink;
  fuzz::Fields fields(data, size);
  const std::string text = fields.Next();
  const std::string plain = fields.Next();
  const ConnectionSettings settings = ParseSettingsFile(text);
  fuzz::Require(settings.host.find(';') == std::string::npos, "no ; in a value", settings.host);
  fuzz::CheckMasking(plain);
  fuzz::CheckUnmasking(plain);
  return 0;
}
