#include "settle/success_rule.h"

namespace tovalink {

SuccessWording SuccessRule(Database& db, const std::string& product_id) {
  const Rows rows =
      db.OpenSql("SELECT pesansuksesgagal,awalsn,akhirsn FROM settinggetsn WHERE  idproduk=\"" +
                 db.Escape(product_id) + "\" AND tipepesan=\"SUKSES\"");
  SuccessWording wording;
  if (rows.Eof()) return wording;
  wording.awalsn = rows.Text("awalsn");
  wording.akhirsn = rows.Text("akhirsn");
  wording.pesansuksesgagal = rows.Text("pesansuksesgagal");
  return wording;
}

}  // namespace tovalink
