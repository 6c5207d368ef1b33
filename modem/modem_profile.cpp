#include "modem/modem_profile.h"

namespace tovalink {

ModemProfile ModemProfileFor(const std::string& modem_type) {
  ModemProfile profile;
  if (modem_type == "NOKCDMA_6235") {
    profile.family = ModemFamily::NokiaCdma;
    profile.inbox = InboxListing::CdmaTwoPasses;
  } else if (modem_type == "SIEMENS") {
    profile.family = ModemFamily::Siemens;
    profile.dial_suffix = ";";
    profile.initialisation = {{"AT+CMGF=0\r", 2},
                              {"AT+CNMI = 1,1,0,2\r", 2},
                              {"AT+CMEC=2\r", 2},
                              {"AT+CSMS=0\r", 2}};
  } else {
    profile.family = modem_type == "WAVECOM" ? ModemFamily::Wavecom : ModemFamily::Other;
    profile.initialisation = {{"AT+CMGF=0\r", 2},
                              {"AT+STSF=2,\"5FFFFFFF7F\"\r", 2},
                              {"AT+STSF=1\r", 5},
                              {"AT+CNMI=0,1,0,0,0\r", 2},
                              {"AT+CUSD=1\r", 5}};
  }
  profile.dial_reply_end = profile.family == ModemFamily::Wavecom ? ",15\r\n" : "OK";
  return profile;
}

}  // namespace tovalink
