#include "testsupport/module_fixture.h"

#include "sim/gsm_pdu.h"

namespace tovalink {

ModuleFixture::ModuleFixture() {
  clock.SetLocal(2026, 3, 2, 9, 30, 0);
  form.csumber = "M1";
  form.cport = "5";
  form.epin = "1234";
  form.etunggu = "2";
  form.StopRequested = false;
  UseModem("WAVECOM");
  port.Open("COM5", SerialSettings{});
  port.On("AT", "\r\nOK\r\n");
  port.On("AT+CMGS=", "\r\n> ");
  port.On("00", "\r\n+CMGS: 7\r\n\r\nOK\r\n");
  port.On("AT+CMGL=4", "\r\nOK\r\n");
  t.Run("INSERT INTO modulaktif (namamodul, comm) VALUES ('M1', '5');");
}

void ModuleFixture::UseModem(const std::string& modem_type) {
  form.cmodem = modem_type;
  module.modem = ModemProfileFor(modem_type);
  form.DialSuffix = module.modem.dial_suffix;
  form.DialReplyEnd = module.modem.dial_reply_end;
}

std::vector<std::string> ModuleFixture::SubmittedTexts() {
  std::vector<std::string> texts;
  for (std::string write : port.Written("00")) {
    if (!write.empty() && write.back() == '\x1A') write.pop_back();
    texts.push_back(gsmpdu::DecodeSubmit(write).text);
  }
  return texts;
}

void ModuleFixture::RunWorker(int64_t stop_at_ms, std::unique_ptr<Channel> channel) {
  if (!channel) channel = MakeChannel(form.ctipeprov);
  ASSERT_NE(channel, nullptr) << form.ctipeprov;
  Worker worker(module, std::move(channel), journal);
  running_ = &worker;
  clock.After(stop_at_ms, [this] { form.StopRequested = true; });
  worker.Run();
  if (before_worker_goes) before_worker_goes();
  running_ = nullptr;
}

SaleInHand& ModuleFixture::InHand(const Sale& sale) {
  sales_.push_back(std::make_unique<SaleInHand>(module, journal, sale));
  sales_.back()->Take([] { return SaleInHand::TakeAnswer::Taken; });
  return *sales_.back();
}

void ModuleFixture::AbortModule(const std::string& message) {
  aborted.push_back(message);
  const std::string why = "modul berhenti (" + message + ")";
  if (running_ != nullptr) {
    running_->RequestEnd();
    running_->CloseSaleInHand(why);
  } else if (!sales_.empty()) {
    sales_.back()->CutOff(why);
  }
}

}  // namespace tovalink
