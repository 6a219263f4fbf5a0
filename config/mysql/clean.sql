-- Tessarin: removes the SIP server's tables (every version of the schema).
-- Children before the tables their foreign keys point at.
DROP TABLE IF EXISTS device_channel;
DROP TABLE IF EXISTS device;
DROP TABLE IF EXISTS media_server;
DROP TABLE IF EXISTS sip_platform;
DROP TABLE IF EXISTS app_user;
DROP TABLE IF EXISTS schema_version;
