-- The two roles of a Quillon catalogue on a PostgreSQL server: one whose
-- members edit the catalogue, one whose members only read it. Quillon opens
-- the catalogue read-only for a member of the readers (every editing command
-- disabled, the reason shown in the main window).
--
-- Run it once per catalogue database, as the database's owner (the role that
-- made its tables with `quillon --catalogue URI --check`) or a superuser,
-- after the tables are there (the package installs it as
-- /usr/share/quillon/server-roles.sql):
--
--   psql "postgresql://server/quillon" -v editors=quillon_editors \
--        -v readers=quillon_readers -f scripts/server-roles.sql
--
-- then give people their role:
--
--   CREATE ROLE anna LOGIN PASSWORD '...' IN ROLE quillon_editors;
--   CREATE ROLE boris LOGIN PASSWORD '...' IN ROLE quillon_readers;
--
-- Running it again changes nothing. Tables the structure check makes later
-- get the same rights (default privileges of the role running this script).
-- Only the owner changes the structure (`--check`), packs (`--pack`) and
-- restores; editors add, change and delete records and attached files.
-- Beside the catalogue's tables the program keeps the journal
-- quillon_row_moves (where an edit moved a row of a table without a key of
-- its own); editors write to it too, and the grants below cover it.

\set ON_ERROR_STOP on

SELECT NOT EXISTS (SELECT 1 FROM pg_catalog.pg_roles WHERE rolname = :'editors') AS make_editors,
       NOT EXISTS (SELECT 1 FROM pg_catalog.pg_roles WHERE rolname = :'readers') AS make_readers
\gset
\if :make_editors
CREATE ROLE :"editors" NOLOGIN;
\endif
\if :make_readers
CREATE ROLE :"readers" NOLOGIN;
\endif

GRANT CONNECT ON DATABASE :"DBNAME" TO :"editors", :"readers";
GRANT USAGE ON SCHEMA public TO :"editors", :"readers";

-- Editors: rows of every table, and the key sequences a new row takes its key from.
GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA public TO :"editors";
GRANT USAGE, SELECT, UPDATE ON ALL SEQUENCES IN SCHEMA public TO :"editors";
ALTER DEFAULT PRIVILEGES IN SCHEMA public
    GRANT SELECT, INSERT, UPDATE, DELETE ON TABLES TO :"editors";
ALTER DEFAULT PRIVILEGES IN SCHEMA public
    GRANT USAGE, SELECT, UPDATE ON SEQUENCES TO :"editors";

-- Readers: reading only.
REVOKE INSERT, UPDATE, DELETE, TRUNCATE ON ALL TABLES IN SCHEMA public FROM :"readers";
GRANT SELECT ON ALL TABLES IN SCHEMA public TO :"readers";
ALTER DEFAULT PRIVILEGES IN SCHEMA public GRANT SELECT ON TABLES TO :"readers";
