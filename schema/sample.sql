-- Sample rows for the demo (scripts/demo): an outlet of four modules, one per provider type,
-- each with the SIM of its example scenario: HOST1 reaches the supplier HOSTA by SMS
-- (demo-scenario.json), MTRONIK1 walks the M-TRONIK menu (mtronik-scenario.json), DOMPET1
-- sells from a pulsa wallet by USSD (dompet-scenario.json), MKIOS1 from a voucher stock
-- (mkios-scenario.json). The demo loads schema/outlet.sql and schema/indexes.sql first.

INSERT INTO modulaktif (namamodul, comm, autoretur, handshake, tipemodem, caradial, metodetrx,
                        pin, waktutunggu, autorun) VALUES
  ('HOST1', '7', '115200', '1', 'WAVECOM', 'HOSTA', '', '1234', '6', 1),
  ('MTRONIK1', '8', '115200', '1', 'WAVECOM', 'MTRONIK', '', '1234', '10', 1),
  ('DOMPET1', '9', '115200', '1', 'WAVECOM', 'DOMPET', 'DIAL151', '1234', '8', 1),
  ('MKIOS1', '10', '115200', '1', 'WAVECOM', 'MKIOS', 'DIAL', '1234', '10', 1);

INSERT INTO produk (idproduk, namaproduk, denom) VALUES
  ('X5', 'Pulsa 5.000', 5000),
  ('X10', 'Pulsa 10.000', 10000),
  ('X25', 'Pulsa 25.000', 25000),
  ('M10', 'M-TRONIK 10.000', 10),
  ('M25', 'M-TRONIK 25.000', 25),
  ('D5', 'Dompet 5.000', 5),
  ('D10', 'Dompet 10.000', 10),
  ('S10', 'Voucher 10.000', 10);

INSERT INTO hostserver (idserver, metodetrx, formattrx, smscenter, metodeceksaldo, formatceksaldo,
                        metodedep, formatdep, metodereg, formatreg) VALUES
  ('HOSTA', 'SMS', '<kode>.<hptujuan>.<pin>', '08111000111', 'SMS', 'SAL.<pin>',
   'SMS', 'DEP.<nominal>.<pin>', 'SMS', 'REG.<idoutlet>.<msisdn>.<rebate>.<pin>'),
  ('HOSTB', 'DIAL', '*123*<kode>*<hptujuan>*<pin>#', '', 'DIAL', '*123*9*<pin>#',
   '', '', '', '');

INSERT INTO hostproduk (idproduk, idserver, idprodukhost) VALUES
  ('X5', 'HOSTA', 'P5'), ('X10', 'HOSTA', 'P10'), ('X25', 'HOSTA', 'P25'),
  ('X5', 'HOSTB', '5'), ('X10', 'HOSTB', '10');

-- The replies of the four SIMs:
--   HOSTA    "SUKSES Isi P10 ke 081234567801 SN: 1234-5678-90. Saldo ..." or "GAGAL Isi P5 ke ..."
--   M-TRONIK "Isi Pulsa 10000 ke 081234567811 BERHASIL. SN: 100000000001. Sisa saldo ..."
--   DOMPET   "Transfer pulsa ke 081234567821 BERHASIL. SN 100000000001. Sisa saldo ..."
--   MKIOS    "Trx V10 ke 081234567831 BERHASIL. SN:100000000001. Sisa V10 k=34."
INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk,
                          pesansuksesgagal, katajumlah) VALUES
  ('X5', 'SUKSES', ' ke ', 'SN: ', '. Saldo', 'Isi P5', 'SUKSES', ''),
  ('X10', 'SUKSES', ' ke ', 'SN: ', '. Saldo', 'Isi P10', 'SUKSES', ''),
  ('X25', 'SUKSES', ' ke ', 'SN: ', '. Saldo', 'Isi P25', 'SUKSES', ''),
  ('X5', 'GAGAL', ' ke ', '', '', 'Isi P5', 'GAGAL', ''),
  ('X10', 'GAGAL', ' ke ', '', '', 'Isi P10', 'GAGAL', ''),
  ('X25', 'GAGAL', ' ke ', '', '', 'Isi P25', 'GAGAL', ''),
  ('M10', 'SUKSES', ' ke ', 'SN: ', '.', 'Isi Pulsa', 'BERHASIL', ''),
  ('M25', 'SUKSES', ' ke ', 'SN: ', '.', 'Isi Pulsa', 'BERHASIL', ''),
  ('D5', 'SUKSES', 'ke ', 'SN ', '.', 'Transfer pulsa', 'BERHASIL', ''),
  ('D10', 'SUKSES', 'ke ', 'SN ', '.', 'Transfer pulsa', 'BERHASIL', ''),
  ('D5', 'GAGAL', 'ke ', '', '', 'sibuk', 'gagal try2x', ''),
  ('D10', 'GAGAL', 'ke ', '', '', 'sibuk', 'gagal try2x', ''),
  ('S10', 'SUKSES', ' ke ', 'SN:', '.', 'Trx V10', 'BERHASIL', ''),
  ('S10', 'GAGAL', ' ke ', '', '', 'Trx V10', 'GAGAL', '');

INSERT INTO macroeditorc55 (idproduk, macro) VALUES
  ('M10', '*~777~#~hptujuan~nominal~pin~');
