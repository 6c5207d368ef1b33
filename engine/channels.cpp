// The table of channels, keyed by provider type, and what every channel does unless it says
// otherwise.
#include <string_view>

#include "engine/channel.h"
#include "engine/dompet.h"
#include "engine/mkios.h"
#include "engine/mtronik.h"
#include "engine/reply_reading.h"
#include "engine/supplier.h"
#include "store/text.h"

namespace tovalink {

namespace {

struct ProviderChannel {
  std::string_view provider_type;
  std::unique_ptr<Channel> (*make)();
};

// Provider types are compared exactly (letter case matters); every other text is the id of a
// host server.
constexpr ProviderChannel kProviderChannels[] = {
    {"DOMPET", MakeDompetChannel},
    {"MKIOS", MakeMkiosChannel},
    {"MTRONIK", MakeMtronikChannel},
};

}  // namespace

std::unique_ptr<Channel> MakeChannel(const std::string& provider_type) {
  for (const ProviderChannel& entry : kProviderChannels) {
    if (provider_type == entry.provider_type) return entry.make();
  }
  return MakeHostFormatChannel(provider_type);
}

bool Channel::AtWorkerStart(Module&) { return true; }

void Channel::RequestBalance(Module& module, const HostBalance& host) {
  std::string text = host.format;
  if (host.method == "SMS") text = ReplaceFirstNoCase(text, "<pin>", module.form.epin);
  if (host.method == "MENUMACRO") text = ReplaceAll(text, "pin", module.form.epin);
  SendByMethod(module, host.method, text, host.sms_center);
  CollectReplies(module, ReplyOptions{});
}

}  // namespace tovalink
