-- Recommended indexes for the statements a running module issues every cycle. The module
-- creates no index itself (it says at START which of these are missing); an outlet's
-- technician adds these once, with the cashier software stopped:
--   the worker's poll of pending sales   ... WHERE modem="M1" AND flag=0
--   settlement's open sales of today      ... WHERE (barcode="..." OR barcode="...") and tanggal="..."
--   settlement's rules per product        ... WHERE tipepesan="..." AND idproduk="..."
--   settlement's marker pairs, once per reply:
--     SELECT awalmsisdn,tipepesan FROM settinggetsn GROUP BY awalmsisdn,tipepesan
--     ORDER BY tipepesan DESC
--   With the last index the server reads one entry per pair instead of every rule. It still
--   sorts the pairs in a small temporary table: the statement groups by (awalmsisdn,
--   tipepesan) but orders by tipepesan alone, so no index order can serve both. That sort
--   is of a handful of rows and costs little; the statement stays as the other modules and
--   the cashier software know it.
CREATE INDEX penjualanproduk_modem_flag ON penjualanproduk (modem, flag);
CREATE INDEX penjualanproduk_barcode_tanggal ON penjualanproduk (barcode, tanggal);
CREATE INDEX settinggetsn_idproduk_tipepesan ON settinggetsn (idproduk, tipepesan);
CREATE INDEX settinggetsn_awalmsisdn_tipepesan ON settinggetsn (awalmsisdn, tipepesan);
