-- Tessarin: migration of the SIP server's database to version 1.1.
-- Only adds; every step checks first, so it can run any number of times.
-- MySQL 8.0 has no ADD COLUMN IF NOT EXISTS / CREATE INDEX IF NOT EXISTS and
-- the script is one query text (no procedures), so column, index and key
-- changes are looked up in information_schema and run through PREPARE.

SET NAMES utf8mb4;

-- Media servers the platform sends device streams to.
CREATE TABLE IF NOT EXISTS media_server (
    id           VARCHAR(32)       NOT NULL,
    ip           VARCHAR(45)       NOT NULL,
    http_port    SMALLINT UNSIGNED NOT NULL,
    rtp_port_min SMALLINT UNSIGNED NOT NULL,
    rtp_port_max SMALLINT UNSIGNED NOT NULL,
    secret       VARCHAR(64)       NOT NULL COMMENT 'API secret of the media server',
    is_default   BOOLEAN           NOT NULL DEFAULT FALSE,
    online       BOOLEAN           NOT NULL DEFAULT FALSE,
    keepalive_at DATETIME          NULL,
    created_at   DATETIME          NOT NULL DEFAULT CURRENT_TIMESTAMP,
    updated_at   DATETIME          NOT NULL DEFAULT CURRENT_TIMESTAMP ON UPDATE CURRENT_TIMESTAMP,
    PRIMARY KEY (id),
    CONSTRAINT chk_media_server_rtp_range CHECK (rtp_port_min <= rtp_port_max)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;

-- The media server on this machine, the default for every device.
INSERT INTO media_server (id, ip, http_port, rtp_port_min, rtp_port_max, secret, is_default)
VALUES ('local', '127.0.0.1', 80, 30000, 30500, LEFT(SHA2(CONCAT(UUID(), RAND()), 256), 32), TRUE)
ON DUPLICATE KEY UPDATE id = id;

-- device.media_server_id: the media server that takes the device's streams
-- (empty: the default one).
SET @tessarin_ddl = IF(
    (SELECT COUNT(*) FROM information_schema.COLUMNS
      WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = 'device'
        AND COLUMN_NAME = 'media_server_id') = 0,
    'ALTER TABLE device ADD COLUMN media_server_id VARCHAR(32) NULL AFTER stream_mode',
    'DO 0');
PREPARE tessarin_stmt FROM @tessarin_ddl;
EXECUTE tessarin_stmt;
DEALLOCATE PREPARE tessarin_stmt;

SET @tessarin_ddl = IF(
    (SELECT COUNT(*) FROM information_schema.TABLE_CONSTRAINTS
      WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = 'device'
        AND CONSTRAINT_NAME = 'fk_device_media_server') = 0,
    'ALTER TABLE device ADD CONSTRAINT fk_device_media_server FOREIGN KEY (media_server_id) REFERENCES media_server (id) ON DELETE SET NULL',
    'DO 0');
PREPARE tessarin_stmt FROM @tessarin_ddl;
EXECUTE tessarin_stmt;
DEALLOCATE PREPARE tessarin_stmt;

-- Channel trees are walked from the parent down.
SET @tessarin_ddl = IF(
    (SELECT COUNT(*) FROM information_schema.STATISTICS
      WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = 'device_channel'
        AND INDEX_NAME = 'idx_device_channel_parent_id') = 0,
    'CREATE INDEX idx_device_channel_parent_id ON device_channel (parent_id)',
    'DO 0');
PREPARE tessarin_stmt FROM @tessarin_ddl;
EXECUTE tessarin_stmt;
DEALLOCATE PREPARE tessarin_stmt;
SET @tessarin_ddl = NULL;

INSERT INTO schema_version (version, description)
VALUES ('1.1', 'media servers; device media server; channel parent index')
ON DUPLICATE KEY UPDATE version = version;
