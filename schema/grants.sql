-- The rights a Tovalink module needs on the outlet database, and nothing more.
--
-- Give the modules a database user of their own, so that a leaked dbsetting.txt opens no more
-- than this. As the database's administrator, once:
--
--   CREATE USER 'tovalink'@'localhost' IDENTIFIED BY 'the password';
--   sed -e 's/`outlet`/`the_outlets_database`/' /usr/share/tovalink/schema/grants.sql | mariadb
--
-- (replace `outlet` with the outlet's database and 'tovalink'@'localhost' with the user, as the
-- modules reach the server; a module on another computer of the outlet needs its host there).
-- The modules (tovalinkd, tovalink) and the technician's options (--status, --explain-reply,
-- --unmatched, --suggest-rule, --set-autorun) run with these rights alone; the tests run a
-- whole module as such a user.
--
-- What a module does with each table:
--   modulaktif       reads the list of modules, its settings, autorun and the requests of the
--                    cashier software; writes its heartbeat (waktu, statrun), STOP and fatal
--                    errors (lokasifile, statrun, autorun), autorun 1 before a service start,
--                    and clears a request it takes (ceksaldo).
--   penjualanproduk  reads its pending sales and today's open sales; takes a sale (flag),
--                    writes when its channel began it (tglwaktuproses) and settles it
--                    (status, respond, sn, sn_token).
--   logtrxsms        adds one row per exchange with an operator and never changes one; the
--                    technician's --unmatched and --suggest-rule (and the window's "Reply
--                    rules...") read it to find the replies that no rule settles.
--   produk, hostserver, hostproduk, settinggetsn, macroeditorc55
--                    read only: denominations, suppliers, product codes, reply rules, keypad
--                    macros.
-- A module creates no table, column or index and deletes no row. An UPDATE reads the columns
-- of its WHERE clause, which the SELECT rights cover.

GRANT SELECT, UPDATE (waktu, statrun, autorun, lokasifile, ceksaldo)
  ON `outlet`.`modulaktif` TO 'tovalink'@'localhost';
GRANT SELECT, UPDATE (flag, tglwaktuproses, status, respond, sn, sn_token)
  ON `outlet`.`penjualanproduk` TO 'tovalink'@'localhost';
GRANT SELECT, INSERT ON `outlet`.`logtrxsms` TO 'tovalink'@'localhost';
GRANT SELECT ON `outlet`.`produk` TO 'tovalink'@'localhost';
GRANT SELECT ON `outlet`.`hostserver` TO 'tovalink'@'localhost';
GRANT SELECT ON `outlet`.`hostproduk` TO 'tovalink'@'localhost';
GRANT SELECT ON `outlet`.`settinggetsn` TO 'tovalink'@'localhost';
GRANT SELECT ON `outlet`.`macroeditorc55` TO 'tovalink'@'localhost';
