-- Reference schema of the outlet database: the tables and columns the module touches, as an
-- outlet's cashier software would create them. The module itself creates no table, column or
-- index; the tests and the demo load this file into a fresh database.

CREATE TABLE modulaktif (
  namamodul   VARCHAR(50)  NOT NULL,
  comm        VARCHAR(10)  NOT NULL DEFAULT '',
  autoretur   VARCHAR(10)  NOT NULL DEFAULT '115200',
  handshake   VARCHAR(5)   NOT NULL DEFAULT '2',
  tipemodem   VARCHAR(20)  NOT NULL DEFAULT 'WAVECOM',
  caradial    VARCHAR(30)  NOT NULL DEFAULT 'DOMPET',
  metodetrx   VARCHAR(30)  NOT NULL DEFAULT '',
  pin         VARCHAR(20)  NOT NULL DEFAULT '',
  waktutunggu VARCHAR(10)  NOT NULL DEFAULT '20',
  waktu       VARCHAR(10)  NOT NULL DEFAULT '',
  statrun     INT          NOT NULL DEFAULT 0,
  autorun     INT          NULL DEFAULT 1,
  ceksaldo    INT          NOT NULL DEFAULT 0,
  lokasifile  VARCHAR(255) NOT NULL DEFAULT '',
  PRIMARY KEY (namamodul)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

CREATE TABLE penjualanproduk (
  idx            INT          NOT NULL AUTO_INCREMENT,
  modem          VARCHAR(50)  NOT NULL DEFAULT '',
  flag           INT          NOT NULL DEFAULT 0,
  idproduk       VARCHAR(30)  NOT NULL DEFAULT '',
  barcode        VARCHAR(30)  NOT NULL DEFAULT '',
  tanggal        DATE         NULL,
  waktu          TIME         NULL,
  jumlah         INT          NOT NULL DEFAULT 1,
  idcustomer     VARCHAR(30)  NOT NULL DEFAULT '',
  nonota         VARCHAR(30)  NOT NULL DEFAULT '',
  status         VARCHAR(20)  NOT NULL DEFAULT '',
  respond        TEXT         NULL,
  sn             VARCHAR(100) NOT NULL DEFAULT '',
  sn_token       VARCHAR(100) NOT NULL DEFAULT '',
  tglwaktuproses DATETIME     NULL,
  PRIMARY KEY (idx)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

CREATE TABLE logtrxsms (
  idlog   INT          NOT NULL AUTO_INCREMENT,
  tanggal VARCHAR(10)  NOT NULL DEFAULT '',
  jam     VARCHAR(8)   NOT NULL DEFAULT '',
  modul   VARCHAR(50)  NOT NULL DEFAULT '',
  pengirim VARCHAR(100) NOT NULL DEFAULT '',
  pesan   TEXT         NULL,
  baru    INT          NOT NULL DEFAULT 1,
  PRIMARY KEY (idlog)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

CREATE TABLE produk (
  idproduk   VARCHAR(30)  NOT NULL,
  namaproduk VARCHAR(100) NOT NULL DEFAULT '',
  denom      DOUBLE       NULL DEFAULT 0,
  PRIMARY KEY (idproduk)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

CREATE TABLE hostserver (
  idserver       VARCHAR(30)  NOT NULL,
  metodetrx      VARCHAR(20)  NOT NULL DEFAULT '',
  formattrx      VARCHAR(255) NOT NULL DEFAULT '',
  smscenter      VARCHAR(30)  NOT NULL DEFAULT '',
  metodeceksaldo VARCHAR(20)  NOT NULL DEFAULT '',
  formatceksaldo VARCHAR(255) NOT NULL DEFAULT '',
  metodedep      VARCHAR(20)  NOT NULL DEFAULT '',
  formatdep      VARCHAR(255) NOT NULL DEFAULT '',
  metodereg      VARCHAR(20)  NOT NULL DEFAULT '',
  formatreg      VARCHAR(255) NOT NULL DEFAULT '',
  PRIMARY KEY (idserver)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

CREATE TABLE hostproduk (
  idproduk     VARCHAR(30)  NOT NULL,
  idserver     VARCHAR(30)  NOT NULL,
  idprodukhost VARCHAR(255) NOT NULL DEFAULT '',
  PRIMARY KEY (idproduk, idserver)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

CREATE TABLE settinggetsn (
  idsetting        INT          NOT NULL AUTO_INCREMENT,
  idproduk         VARCHAR(30)  NOT NULL DEFAULT '',
  tipepesan        VARCHAR(20)  NOT NULL DEFAULT '',
  awalmsisdn       VARCHAR(100) NOT NULL DEFAULT '',
  awalsn           VARCHAR(100) NOT NULL DEFAULT '',
  akhirsn          VARCHAR(100) NOT NULL DEFAULT '',
  pesanproduk      VARCHAR(255) NOT NULL DEFAULT '',
  pesansuksesgagal VARCHAR(255) NOT NULL DEFAULT '',
  katajumlah       VARCHAR(100) NOT NULL DEFAULT '',
  PRIMARY KEY (idsetting)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

CREATE TABLE macroeditorc55 (
  idproduk VARCHAR(30)  NOT NULL,
  macro    VARCHAR(255) NOT NULL DEFAULT '',
  PRIMARY KEY (idproduk)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;
