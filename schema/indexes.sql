-- Recommended indexes for the statements a running module issues every cycle. The module
-- creates no index itself; an outlet's technician adds these once, with the cashier software
-- stopped:
--   the worker's poll of pending sales   ... WHERE modem="M1" AND flag=0
--   settlement's open sales of today      ... WHERE (barcode="..." OR barcode="...") and tanggal="..."
--   settlement's rules per product        ... WHERE tipepesan="..." AND idproduk="..."
CREATE INDEX penjualanproduk_modem_flag ON penjualanproduk (modem, flag);
CREATE INDEX penjualanproduk_barcode_tanggal ON penjualanproduk (barcode, tanggal);
CREATE INDEX settinggetsn_idproduk_tipepesan ON settinggetsn (idproduk, tipepesan);
