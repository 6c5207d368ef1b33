#include "app/settings_report.h"

namespace tovalink {

namespace {
std::string Join(const std::vector<std::string>& items) {
  std::string joined;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) joined += ",";
    joined += items[i];
  }
  return joined;
}
}  // namespace

std::string SettingsReport(const Form& form) {
  std::string out;
  auto line = [&out](const std::string& key, const std::string& value) {
    out += key + "=" + value + "\n";
  };
  for (const std::string& message : form.Messages()) line("message", message);
  line("csumber", form.csumber);
  line("cport", form.cport);
  line("chands", form.chands);
  line("cbaud", form.cbaud);
  line("cmodem", form.cmodem);
  line("cmethod", form.cmethod);
  line("ctipeprov", form.ctipeprov);
  line("epin", form.epin);
  line("etunggu", form.etunggu);
  line("ProviderType", form.ProviderType);
  line("gmk", form.GmkVisible() ? "shown" : "hidden");
  line("csumber.items", Join(form.csumber_items));
  line("ctipeprov.items", Join(form.ctipeprov_items));
  line("cmodem.items", Join(form.cmodem_items));
  line("cbaud.items", Join(form.cbaud_items));
  line("chands.items", Join(form.chands_items));
  std::string ports;
  if (!form.cport_items.empty()) ports = form.cport_items.front() + ".." + form.cport_items.back();
  line("cport.items", ports);
  return out;
}

}  // namespace tovalink
