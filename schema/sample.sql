-- Sample rows for the demo: two modules, a few products, two host servers with their product
-- codes, reply rules and a keypad macro. The demo loads schema/outlet.sql first, then this.

INSERT INTO modulaktif (namamodul, comm, autoretur, handshake, tipemodem, caradial, metodetrx,
                        pin, waktutunggu, autorun) VALUES
  ('DEMO1', '7', '115200', '1', 'WAVECOM', 'HOSTA', '', '1234', '6', 1),
  ('DEMO2', '8', '9600', '2', 'SIEMENS', 'MKIOS', 'DIAL', '4321', '20', 1);

INSERT INTO produk (idproduk, namaproduk, denom) VALUES
  ('X5', 'Pulsa 5.000', 5000),
  ('X10', 'Pulsa 10.000', 10000),
  ('X25', 'Pulsa 25.000', 25000),
  ('S10', 'Voucher 10.000', 10000);

INSERT INTO hostserver (idserver, metodetrx, formattrx, smscenter, metodeceksaldo, formatceksaldo,
                        metodedep, formatdep, metodereg, formatreg) VALUES
  ('HOSTA', 'SMS', '<kode>.<hptujuan>.<pin>', '08111000111', 'SMS', 'SAL.<pin>',
   'SMS', 'DEP.<nominal>.<pin>', 'SMS', 'REG.<idoutlet>.<msisdn>.<rebate>.<pin>'),
  ('HOSTB', 'DIAL', '*123*<kode>*<hptujuan>*<pin>#', '', 'DIAL', '*123*9*<pin>#',
   '', '', '', '');

INSERT INTO hostproduk (idproduk, idserver, idprodukhost) VALUES
  ('X5', 'HOSTA', 'P5'), ('X10', 'HOSTA', 'P10'), ('X25', 'HOSTA', 'P25'),
  ('X5', 'HOSTB', '5'), ('X10', 'HOSTB', '10');

-- The supplier answers "SUKSES Isi P10 ke 081234567890 SN: 1234-5678-90. Saldo ..." or
-- "GAGAL Isi P10 ke 081234567890 ...".
INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk,
                          pesansuksesgagal, katajumlah) VALUES
  ('X5', 'SUKSES', ' ke ', 'SN: ', '. Saldo', 'Isi P5', 'SUKSES', ''),
  ('X10', 'SUKSES', ' ke ', 'SN: ', '. Saldo', 'Isi P10', 'SUKSES', ''),
  ('X25', 'SUKSES', ' ke ', 'SN: ', '. Saldo', 'Isi P25', 'SUKSES', ''),
  ('X5', 'GAGAL', ' ke ', '', '', 'Isi P5', 'GAGAL', ''),
  ('X10', 'GAGAL', ' ke ', '', '', 'Isi P10', 'GAGAL', ''),
  ('X25', 'GAGAL', ' ke ', '', '', 'Isi P25', 'GAGAL', '');

INSERT INTO macroeditorc55 (idproduk, macro) VALUES
  ('S10', '*~777~#~hptujuan~nominal~pin~');
