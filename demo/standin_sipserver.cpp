// Demo stand-in for the platform's SIP signalling server (GB/T 28181).
//
// Installed only into the demo folder. It handles no SIP traffic: it prints
// what a GB/T 28181 SIP server typically prints (start-up, its SIP identity,
// devices registering, keepalives, invites, periodic statistics, warnings on
// stderr) so that the launcher's SIP server panel has a realistic child to
// start, watch and stop. The only real thing it does is check, on the
// loopback interface, that the MySQL server and Redis it depends on answer
// (a MySQL server greeting, a Redis PONG). The real SIP server is configured
// through the settings file (config/SetupConfig.ini, section SipServer).

#include "standin_common.h"

#include <ctime>
#include <string>
#include <vector>

using standin::logLine;

namespace {

const char *const kVersion = "2.3.2-demo";

struct Device
{
    std::string id;
    std::string address;
    std::string vendor;
    int channels = 1;
    bool online = false;
    int keepalives = 0;
    int missed = 0;
};

void printHelp()
{
    std::printf(
        "standin-sipserver %s: a stand-in for the GB/T 28181 SIP server (demo only).\n"
        "It handles no SIP traffic; it prints start-up, status and warning lines until it\n"
        "is stopped (%s: clean exit with code 0), and checks that MySQL and\n"
        "Redis answer on the loopback interface.\n"
        "Options:\n"
        "  --id=<server id>           default 34020000002000000001\n"
        "  --domain=<sip domain>      default 3402000000\n"
        "  --sip-port=<n>             default 5060\n"
        "  --http-port=<n>            default 18080\n"
        "  --mysql=<host:port>        MySQL to check, default 127.0.0.1:3306 (loopback only)\n"
        "  --redis=<host:port>        Redis to check, default 127.0.0.1:6379 (loopback only)\n"
        "  --interval-ms=<n>          status period, default 2500\n"
        "  --exit-after=<s>           end by itself after s seconds (exit code 0)\n"
        "  --crash-after=<s>          abort after s seconds (a crash, for the automatic restart)\n",
        kVersion, standin::kStopHow);
}

// Reads the server version from the MySQL/MariaDB greeting packet.
bool probeMysql(const standin::Endpoint &endpoint, std::string &detail)
{
    std::string error;
    const standin::Socket fd = standin::connectWithTimeout(endpoint, 1000, error);
    if (fd == standin::kNoSocket) {
        detail = error;
        return false;
    }
    const std::string packet = standin::readSome(fd, 512, 1500);
    standin::closeSocket(fd);
    if (packet.size() < 6) {
        detail = "connected, but no MySQL greeting";
        return false;
    }
    const unsigned char kind = static_cast<unsigned char>(packet[4]);
    if (kind == 0xFF) {
        // Error packet: 0xFF, 2-byte code, message.
        detail = "answers, but refuses this host: " + packet.substr(packet.size() > 7 ? 7 : packet.size());
        return true;
    }
    if (kind != 10) {
        detail = "connected, but the answer is not a MySQL greeting";
        return false;
    }
    const size_t end = packet.find('\0', 5);
    std::string version = packet.substr(5, end == std::string::npos ? std::string::npos : end - 5);
    // MariaDB announces itself as "5.5.5-<version>" to old clients.
    if (version.compare(0, 6, "5.5.5-") == 0)
        version.erase(0, 6);
    detail = "server " + version;
    return true;
}

bool probeRedis(const standin::Endpoint &endpoint, std::string &detail)
{
    std::string error;
    const standin::Socket fd = standin::connectWithTimeout(endpoint, 1000, error);
    if (fd == standin::kNoSocket) {
        detail = error;
        return false;
    }
    static const char ping[] = "PING\r\n";
    standin::sendAll(fd, ping);
    std::string answer = standin::readSome(fd, 256, 1500);
    standin::closeSocket(fd);
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
        answer.pop_back();
    if (answer == "+PONG") {
        detail = "PONG";
        return true;
    }
    if (!answer.empty() && answer[0] == '-') {
        detail = "answers: " + answer.substr(1);
        return true;
    }
    detail = answer.empty() ? "connected, but no answer to PING" : "connected, but the answer is not Redis";
    return false;
}

struct Dependency
{
    const char *name;
    standin::Endpoint endpoint;
    bool (*probe)(const standin::Endpoint &, std::string &);
    bool enabled = true;
    int state = -1; // -1 unknown, 0 down, 1 up

    void check(bool verbose)
    {
        if (!enabled)
            return;
        std::string detail;
        const bool up = probe(endpoint, detail);
        if (up && (state != 1 || verbose))
            logLine('I', "depend", "%s at %s reachable (%s)", name, endpoint.text().c_str(), detail.c_str());
        else if (!up && state != 0)
            logLine('W', "depend", "%s at %s not reachable (%s); checking again in about 10 s", name, endpoint.text().c_str(), detail.c_str());
        state = up ? 1 : 0;
    }

    const char *stateText() const
    {
        if (!enabled)
            return "unchecked";
        return state == 1 ? "ok" : "DOWN";
    }
};

} // namespace

int main(int argc, char **argv)
{
    standin::installSignalHandlers();
    const standin::Options options(argc, argv);
    if (options.help) {
        printHelp();
        return 0;
    }

    const std::string serverId = options.get("id", "34020000002000000001");
    const std::string domain = options.get("domain", "3402000000");
    const int sipPort = options.getInt("sip-port", 5060);
    const int httpPort = options.getInt("http-port", 18080);
    const int interval = options.getInt("interval-ms", 2500);
    const int exitAfter = options.getInt("exit-after", 0);
    // For showing the launcher's automatic restart: a crash, not an exit.
    const int crashAfter = options.getInt("crash-after", 0);

    standin::Random random(static_cast<std::uint32_t>(standin::processId()) * 2246822519u
                           ^ static_cast<std::uint32_t>(std::time(nullptr)));
    const time_t started = std::time(nullptr);

    standin::announceStart("Orvane GB/T 28181 SIP server", kVersion, "no SIP traffic is handled", options,
                           {"id", "domain", "sip-port", "http-port", "mysql", "redis", "interval-ms", "exit-after", "crash-after"});
    if (!standin::initSockets())
        logLine('E', "main", "the socket library did not start; the MySQL and Redis checks will fail");

    Dependency mysql{"MySQL", {}, probeMysql};
    Dependency redis{"Redis", {}, probeRedis};
    const std::pair<Dependency *, std::string> deps[] = {
        {&mysql, options.get("mysql", "127.0.0.1:3306")},
        {&redis, options.get("redis", "127.0.0.1:6379")},
    };
    for (const auto &dep : deps) {
        if (dep.second.empty() || dep.second == "none") {
            dep.first->enabled = false;
            logLine('I', "depend", "%s check disabled", dep.first->name);
        } else if (!standin::parseEndpoint(dep.second, dep.first->endpoint)) {
            dep.first->enabled = false;
            logLine('W', "depend", "%s address \"%s\" is not a loopback host:port; not checked", dep.first->name, dep.second.c_str());
        }
    }

    logLine('I', "config", "GB/T 28181-2016, SIP domain %s, server id %s, password digest auth on", domain.c_str(), serverId.c_str());
    logLine('I', "config", "register expires 3600 s, keepalive every 60 s, offline after 3 missed keepalives");
    logLine('I', "db", "MySQL database as set for the platform; Redis for device and stream cache");
    mysql.check(true);
    redis.check(true);
    standin::sleepMs(200);
    logLine('I', "sip", "SIP stack listening on udp 0.0.0.0:%d and tcp 0.0.0.0:%d (simulated)", sipPort, sipPort);
    logLine('I', "http", "web API and console on http://0.0.0.0:%d (simulated)", httpPort);
    logLine('I', "media", "media server 34020000002020000001 registered, keepalive via hooks");
    logLine('I', "main", "started in %.3f s, waiting for devices to register", random.between(2400, 5200) / 1000.0);

    std::vector<Device> devices;
    const char *const vendors[] = {"Hikvision", "Dahua", "Uniview", "Tiandy", "Kedacom"};
    for (int i = 1; i <= 5; ++i) {
        Device d;
        char id[32];
        std::snprintf(id, sizeof id, "%s1320000%03d", domain.substr(0, 10).c_str(), i);
        d.id = id;
        char address[32];
        std::snprintf(address, sizeof address, "192.168.1.%d:5060", 63 + i);
        d.address = address;
        d.vendor = vendors[i - 1];
        d.channels = i == 5 ? 16 : (i == 3 ? 4 : 1);
        devices.push_back(d);
    }

    long cycle = 0;
    int invites = 0;
    while (!standin::stopRequested()) {
        if (!standin::sleepMs(random.between(interval - interval / 5, interval + interval / 5)))
            break;
        ++cycle;
        if (crashAfter > 0 && std::time(nullptr) - started >= crashAfter) {
            logLine('E', "main", "--crash-after %d s reached, aborting", crashAfter);
            standin::crash();
        }
        if (exitAfter > 0 && std::time(nullptr) - started >= exitAfter) {
            logLine('I', "main", "--exit-after %d s reached", exitAfter);
            break;
        }

        // Registration and keepalive traffic.
        Device &d = devices[static_cast<size_t>(random.between(0, static_cast<int>(devices.size()) - 1))];
        if (!d.online) {
            if (random.chance(60)) {
                logLine('I', "sip", "REGISTER %s@%s from %s (%s), expires 3600: 401 Unauthorized (challenge)", d.id.c_str(), domain.c_str(), d.address.c_str(), d.vendor.c_str());
                logLine('I', "sip", "REGISTER %s with digest: 200 OK, device online", d.id.c_str());
                logLine('I', "sip", "MESSAGE Catalog query to %s: %d channel(s)", d.id.c_str(), d.channels);
                d.online = true;
                d.missed = 0;
            }
        } else {
            ++d.keepalives;
            logLine('D', "sip", "MESSAGE Keepalive from %s (status OK)", d.id.c_str());
        }
        // Live view requests.
        if (random.chance(18)) {
            for (auto &dev : devices) {
                if (dev.online) {
                    ++invites;
                    logLine('I', "sip", "INVITE channel %s1310000%03d of %s, RTP to media server port %d, ssrc 0%s%04d: 200 OK",
                            domain.substr(0, 10).c_str(), random.between(1, dev.channels), dev.id.c_str(),
                            30000 + 2 * random.between(0, 40), domain.substr(3, 5).c_str(), random.between(1, 9999));
                    break;
                }
            }
        }
        // Warnings on stderr now and then.
        if (random.chance(8)) {
            for (auto &dev : devices) {
                if (dev.online && random.chance(40)) {
                    ++dev.missed;
                    if (dev.missed >= 3) {
                        dev.online = false;
                        logLine('W', "sip", "device %s missed 3 keepalives (180 s), marked offline", dev.id.c_str());
                    } else {
                        logLine('W', "sip", "device %s keepalive late (%d missed)", dev.id.c_str(), dev.missed);
                    }
                    break;
                }
            }
        } else if (random.chance(4)) {
            logLine('W', "sip", "REGISTER from 34020000001320000099@192.168.1.99:5060 rejected: 403 Forbidden (wrong password)");
        }
        // Dependencies: every 10 s or so while down; while up, Redis as
        // often and MySQL every minute or so (each probe that ends before
        // logging in leaves an "aborted connection" note in the server's log).
        if (cycle % 4 == 0 && (mysql.state != 1 || cycle % 24 == 0))
            mysql.check(false);
        if (cycle % 4 == 0)
            redis.check(false);

        int online = 0;
        int channels = 0;
        int keepalives = 0;
        for (const auto &dev : devices) {
            if (dev.online) {
                ++online;
                channels += dev.channels;
            }
            keepalives += dev.keepalives;
        }
        logLine('I', "status", "devices online %d/%zu, channels %d, invites %d, keepalives %d, MySQL %s, Redis %s, uptime %s",
                online, devices.size(), channels, invites, keepalives, mysql.stateText(), redis.stateText(),
                standin::uptimeText(started).c_str());
    }

    if (standin::stopRequested())
        logLine('I', "main", "received %s, shutting down", standin::stopSignalName());
    int online = 0;
    for (const auto &dev : devices)
        online += dev.online ? 1 : 0;
    logLine('I', "sip", "unregistering %d device session(s), SIP stack stopped", online);
    logLine('I', "main", "SIP server stopped after %s, bye", standin::uptimeText(started).c_str());
    return 0;
}
