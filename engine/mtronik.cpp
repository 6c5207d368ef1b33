#include "engine/mtronik.h"

namespace tovalink {

StkSaleWalk MtronikSaleWalk(const Sale& sale) {
  std::string menu_name = "xxxxxxxx";
  std::string amount;
  const std::string& kind = sale.kind.text();
  if (!kind.empty() && (kind[0] == 'M' || kind[0] == 'I' || kind[0] == 'O')) {
    menu_name = "REGULER";
    amount = sale.nominal + "000";
  }
  const std::string& product = sale.idproduk;
  if (!product.empty() && product.back() == 'S') menu_name = "SMS";
  if (!product.empty() && product.back() == 'G') menu_name = "GPRS";

  StkSaleWalk walk;
  walk.timeout_seconds = 10;
  walk.destination = sale.barcode;
  // "Nominal Bebas": the free amount, typed next.
  walk.destination_list_item = "6";
  walk.amount = amount;
  walk.item_names = {menu_name};
  if (menu_name == "REGULER") walk.item_names.push_back("REGULAR");
  if (menu_name == "GPRS") walk.item_names.push_back("INTERNET");
  walk.item_test = ItemNumberTest::WholeNumber;
  walk.after_choice = {
      {"AT+STGI=3\r", "OK\r\n"},   {"AT+STGR=3,1\r", ">"},
      {sale.pin + "\x1A", "STIN"}, {"AT+STGI=1\r", "OK\r\n", StkReplyUse::Screen},
      {"AT+STGR=1\r", "+STIN: 9"},
  };
  walk.poll_error_token = "xxxx";
  walk.attempts = 5;
  walk.sale_index = sale.idx;
  return walk;
}

}  // namespace tovalink
