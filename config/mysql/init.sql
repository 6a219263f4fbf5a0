-- Tessarin: the SIP server's database for a GB/T 28181 platform, version 1.0.
-- Creates what is missing and seeds what a first start needs; running it
-- again changes nothing. Runs as one multi-statement text on the database
-- named in the settings, on MariaDB 10.x and MySQL 8.0 alike.

SET NAMES utf8mb4;

CREATE TABLE IF NOT EXISTS schema_version (
    version     VARCHAR(16)  NOT NULL,
    description VARCHAR(255) NOT NULL,
    applied_at  DATETIME     NOT NULL DEFAULT CURRENT_TIMESTAMP,
    PRIMARY KEY (version)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;

-- The platform's own SIP identity and registration rules: exactly one row.
CREATE TABLE IF NOT EXISTS sip_platform (
    id                      TINYINT UNSIGNED  NOT NULL,
    server_id               CHAR(20)          NOT NULL COMMENT 'GB id of this SIP server',
    domain                  CHAR(10)          NOT NULL COMMENT 'SIP domain: the first 10 digits of the GB id',
    sip_ip                  VARCHAR(45)       NOT NULL COMMENT 'address devices register to',
    sip_port                SMALLINT UNSIGNED NOT NULL DEFAULT 5060,
    register_password       VARCHAR(64)       NOT NULL COMMENT 'digest password of device registration',
    register_expires        INT UNSIGNED      NOT NULL DEFAULT 3600 COMMENT 'seconds',
    keepalive_interval      INT UNSIGNED      NOT NULL DEFAULT 60 COMMENT 'seconds',
    keepalive_timeout_count INT UNSIGNED      NOT NULL DEFAULT 3,
    updated_at              DATETIME          NOT NULL DEFAULT CURRENT_TIMESTAMP ON UPDATE CURRENT_TIMESTAMP,
    PRIMARY KEY (id),
    CONSTRAINT chk_sip_platform_single CHECK (id = 1),
    CONSTRAINT chk_sip_platform_server_id CHECK (server_id REGEXP '^[0-9]{20}$'),
    CONSTRAINT chk_sip_platform_domain CHECK (domain REGEXP '^[0-9]{10}$')
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;

-- Operators of the web console. Passwords are kept as the hex SHA-256 of a
-- per-user salt followed by the password.
CREATE TABLE IF NOT EXISTS app_user (
    id                   INT UNSIGNED NOT NULL AUTO_INCREMENT,
    username             VARCHAR(64)  NOT NULL,
    password_salt        CHAR(32)     NOT NULL,
    password_hash        CHAR(64)     NOT NULL,
    role                 ENUM('admin', 'operator', 'viewer') NOT NULL DEFAULT 'viewer',
    enabled              BOOLEAN      NOT NULL DEFAULT TRUE,
    must_change_password BOOLEAN      NOT NULL DEFAULT FALSE,
    last_login_at        DATETIME     NULL,
    created_at           DATETIME     NOT NULL DEFAULT CURRENT_TIMESTAMP,
    updated_at           DATETIME     NOT NULL DEFAULT CURRENT_TIMESTAMP ON UPDATE CURRENT_TIMESTAMP,
    PRIMARY KEY (id),
    UNIQUE KEY uk_app_user_username (username)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;

-- Devices (cameras, NVRs, lower platforms) known by their 20-digit GB id.
CREATE TABLE IF NOT EXISTS device (
    id               BIGINT UNSIGNED   NOT NULL AUTO_INCREMENT,
    device_id        CHAR(20)          NOT NULL,
    name             VARCHAR(128)      NULL,
    manufacturer     VARCHAR(64)       NULL,
    model            VARCHAR(64)       NULL,
    firmware         VARCHAR(64)       NULL,
    transport        ENUM('UDP', 'TCP') NOT NULL DEFAULT 'UDP' COMMENT 'SIP signalling transport',
    stream_mode      ENUM('UDP', 'TCP-ACTIVE', 'TCP-PASSIVE') NOT NULL DEFAULT 'UDP' COMMENT 'RTP transport',
    text_charset     VARCHAR(16)       NOT NULL DEFAULT 'GB2312' COMMENT 'charset of the device MANSCDP bodies',
    ip               VARCHAR(45)       NULL,
    port             SMALLINT UNSIGNED NULL,
    register_expires INT UNSIGNED      NOT NULL DEFAULT 3600,
    online           BOOLEAN           NOT NULL DEFAULT FALSE,
    registered_at    DATETIME          NULL,
    keepalive_at     DATETIME          NULL,
    channel_count    INT UNSIGNED      NOT NULL DEFAULT 0,
    created_at       DATETIME          NOT NULL DEFAULT CURRENT_TIMESTAMP,
    updated_at       DATETIME          NOT NULL DEFAULT CURRENT_TIMESTAMP ON UPDATE CURRENT_TIMESTAMP,
    PRIMARY KEY (id),
    UNIQUE KEY uk_device_device_id (device_id),
    KEY idx_device_online (online),
    CONSTRAINT chk_device_device_id CHECK (device_id REGEXP '^[0-9]{20}$')
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;

-- The channels a device reports in its catalog; a channel id is unique
-- within its device.
CREATE TABLE IF NOT EXISTS device_channel (
    id           BIGINT UNSIGNED  NOT NULL AUTO_INCREMENT,
    device_id    CHAR(20)         NOT NULL,
    channel_id   CHAR(20)         NOT NULL,
    name         VARCHAR(128)     NULL,
    manufacturer VARCHAR(64)      NULL,
    model        VARCHAR(64)      NULL,
    owner        VARCHAR(64)      NULL,
    civil_code   VARCHAR(12)      NULL,
    address      VARCHAR(255)     NULL,
    parent_id    VARCHAR(20)      NULL COMMENT 'device, business group or virtual organisation',
    parental     BOOLEAN          NOT NULL DEFAULT FALSE,
    ptz_type     TINYINT UNSIGNED NOT NULL DEFAULT 0 COMMENT '0 unknown, 1 dome, 2 half dome, 3 fixed, 4 remote-controlled fixed',
    has_audio    BOOLEAN          NOT NULL DEFAULT FALSE,
    online       BOOLEAN          NOT NULL DEFAULT FALSE,
    longitude    DECIMAL(10, 7)   NULL,
    latitude     DECIMAL(10, 7)   NULL,
    created_at   DATETIME         NOT NULL DEFAULT CURRENT_TIMESTAMP,
    updated_at   DATETIME         NOT NULL DEFAULT CURRENT_TIMESTAMP ON UPDATE CURRENT_TIMESTAMP,
    PRIMARY KEY (id),
    UNIQUE KEY uk_device_channel (device_id, channel_id),
    KEY idx_device_channel_channel_id (channel_id),
    CONSTRAINT fk_device_channel_device FOREIGN KEY (device_id)
        REFERENCES device (device_id) ON DELETE CASCADE,
    CONSTRAINT chk_device_channel_channel_id CHECK (channel_id REGEXP '^[0-9]{20}$')
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;

-- First start: the platform's SIP identity (the usual defaults of a
-- 3402000000 domain; edit them to the site's numbering plan) ...
INSERT INTO sip_platform (id, server_id, domain, sip_ip, sip_port, register_password)
VALUES (1, '34020000002000000001', '3402000000', '127.0.0.1', 5060, '12345678')
ON DUPLICATE KEY UPDATE id = id;

-- ... and the administrator, password "admin", to be changed at first login.
SET @tessarin_salt = LEFT(SHA2(CONCAT(UUID(), RAND()), 256), 32);
INSERT INTO app_user (username, password_salt, password_hash, role, must_change_password)
VALUES ('admin', @tessarin_salt, SHA2(CONCAT(@tessarin_salt, 'admin'), 256), 'admin', TRUE)
ON DUPLICATE KEY UPDATE id = id;
SET @tessarin_salt = NULL;

INSERT INTO schema_version (version, description)
VALUES ('1.0', 'devices, channels, SIP platform, users')
ON DUPLICATE KEY UPDATE version = version;
