// Demo stand-in for the platform's media server.
//
// Installed only into the demo folder. It opens no sockets and relays no
// media: it prints what a GB/T 28181 media server typically prints (start-up,
// ports, RTP streams coming and going, periodic statistics, warnings on
// stderr) so that the launcher's media server panel has a realistic child to
// start, watch and stop. The real media server is configured through the
// settings file (config/SetupConfig.ini, section MediaServer).

#include "standin_common.h"

#include <ctime>
#include <string>
#include <vector>

using standin::logLine;

namespace {

const char *const kVersion = "1.4.0-demo";

struct Stream
{
    std::string deviceId;
    std::string channelId;
    int ssrc = 0;
    int rtpPort = 0;
    int width = 1920;
    int height = 1080;
    int kbps = 2048;
    int players = 0;
    bool online = false;
};

void printHelp()
{
    std::printf(
        "standin-mediaserver %s: a stand-in for the GB/T 28181 media server (demo only).\n"
        "It serves nothing; it prints start-up, status and warning lines until it is\n"
        "stopped (%s: clean exit with code 0).\n"
        "Options:\n"
        "  --id=<media server id>     default 34020000002020000001\n"
        "  --http-port=<n>            default 8080\n"
        "  --rtsp-port=<n>            default 554\n"
        "  --rtmp-port=<n>            default 1935\n"
        "  --rtp-port=<first>         default 30000 (range of 500 ports)\n"
        "  --interval-ms=<n>          status period, default 2500\n"
        "  --exit-after=<s>           end by itself after s seconds (exit code 0)\n"
        "  --crash-after=<s>          abort after s seconds (a crash, for the automatic restart)\n",
        kVersion, standin::kStopHow);
}

} // namespace

int main(int argc, char **argv)
{
    standin::installSignalHandlers();
    const standin::Options options(argc, argv);
    if (options.help) {
        printHelp();
        return 0;
    }

    const std::string serverId = options.get("id", "34020000002020000001");
    const int httpPort = options.getInt("http-port", 8080);
    const int rtspPort = options.getInt("rtsp-port", 554);
    const int rtmpPort = options.getInt("rtmp-port", 1935);
    const int rtpFirst = options.getInt("rtp-port", 30000);
    const int rtpCount = 500;
    const int interval = options.getInt("interval-ms", 2500);
    const int exitAfter = options.getInt("exit-after", 0);
    // For showing the launcher's automatic restart: a crash, not an exit.
    const int crashAfter = options.getInt("crash-after", 0);

    standin::Random random(static_cast<std::uint32_t>(standin::processId()) * 2654435761u
                           ^ static_cast<std::uint32_t>(std::time(nullptr)));
    const time_t started = std::time(nullptr);

    standin::announceStart("Orvane media server", kVersion, "no sockets are opened and no media is relayed", options,
                           {"id", "http-port", "rtsp-port", "rtmp-port", "rtp-port", "interval-ms", "exit-after", "crash-after"});
    logLine('I', "config", "media server id %s, SIP domain 3402000000", serverId.c_str());
    logLine('I', "config", "RTP/RTCP for GB/T 28181 (PS over RTP), H.264/H.265, AAC/G.711");
    standin::sleepMs(150);
    logLine('I', "http", "HTTP API listening on 0.0.0.0:%d (simulated)", httpPort);
    logLine('I', "rtsp", "RTSP server listening on 0.0.0.0:%d (simulated)", rtspPort);
    logLine('I', "rtmp", "RTMP server listening on 0.0.0.0:%d (simulated)", rtmpPort);
    logLine('I', "rtp", "RTP proxy port pool %d-%d (%d ports, udp+tcp, simulated)", rtpFirst, rtpFirst + rtpCount - 1, rtpCount);
    logLine('I', "hook", "web hooks to the SIP server: on_stream_changed, on_stream_none_reader, on_server_keepalive");
    logLine('I', "main", "media server started in %d ms, waiting for streams", random.between(180, 420));

    // Channels of four cameras (type 131 under devices of type 132).
    std::vector<Stream> streams;
    for (int i = 1; i <= 4; ++i) {
        Stream s;
        char id[32];
        std::snprintf(id, sizeof id, "340200000013200000%02d", i);
        s.deviceId = id;
        std::snprintf(id, sizeof id, "340200000013100000%02d", i);
        s.channelId = id;
        s.ssrc = 100000000 + random.between(1000, 9999);
        s.width = i == 4 ? 1280 : 1920;
        s.height = i == 4 ? 720 : 1080;
        s.kbps = i == 4 ? 1024 : 2048;
        streams.push_back(s);
    }

    int nextRtpPort = rtpFirst;
    long cycle = 0;
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

        // A stream comes or goes now and then.
        if (random.chance(35)) {
            Stream &s = streams[static_cast<size_t>(random.between(0, static_cast<int>(streams.size()) - 1))];
            if (!s.online) {
                s.online = true;
                s.rtpPort = nextRtpPort;
                nextRtpPort = nextRtpPort + 2 >= rtpFirst + rtpCount ? rtpFirst : nextRtpPort + 2;
                s.players = 0;
                logLine('I', "rtp", "openRtpServer stream %s_%s on port %d, ssrc %d", s.deviceId.c_str(), s.channelId.c_str(), s.rtpPort, s.ssrc);
                logLine('I', "media", "stream online: rtp/%s_%s  H264 %dx%d 25fps, PCMA 8000Hz", s.deviceId.c_str(), s.channelId.c_str(), s.width, s.height);
            } else if (s.players == 0 && random.chance(50)) {
                s.online = false;
                logLine('I', "media", "stream rtp/%s_%s has no reader for 30 s, closing (port %d released)", s.deviceId.c_str(), s.channelId.c_str(), s.rtpPort);
            }
        }
        // Players join and leave.
        for (auto &s : streams) {
            if (!s.online)
                continue;
            if (random.chance(20)) {
                ++s.players;
                logLine('I', "http", "player %d joined rtp/%s_%s via %s", s.players, s.deviceId.c_str(), s.channelId.c_str(), random.chance(50) ? "HTTP-FLV" : "WebRTC");
            } else if (s.players > 0 && random.chance(12)) {
                --s.players;
                logLine('I', "http", "player left rtp/%s_%s, %d left", s.deviceId.c_str(), s.channelId.c_str(), s.players);
            }
        }
        // Occasional warnings, on stderr as real servers write them.
        if (random.chance(12)) {
            for (auto &s : streams) {
                if (s.online) {
                    const int first = random.between(1000, 60000);
                    const int lost = random.between(2, 30);
                    logLine('W', "rtp", "rtp/%s_%s: %d RTP packets lost (seq %d..%d), jitter %d ms", s.deviceId.c_str(), s.channelId.c_str(), lost, first, first + lost - 1, random.between(20, 180));
                    break;
                }
            }
        } else if (random.chance(4)) {
            logLine('W', "hook", "hook on_server_keepalive to the SIP server timed out after 3 s, retrying");
        }

        int online = 0;
        int players = 0;
        int kbps = 0;
        for (const auto &s : streams) {
            if (s.online) {
                ++online;
                players += s.players;
                kbps += s.kbps + random.between(-300, 300);
            }
        }
        logLine('I', "status", "streams %d, players %d, rtp ports in use %d/%d, in %.1f Mbit/s, out %.1f Mbit/s, uptime %s",
                online, players, online * 2, rtpCount, kbps / 1000.0, kbps * players / 1000.0,
                standin::uptimeText(started).c_str());
        if (cycle % 8 == 0)
            logLine('I', "hook", "on_server_keepalive sent to the SIP server (id %s)", serverId.c_str());
    }

    if (standin::stopRequested())
        logLine('I', "main", "received %s, shutting down", standin::stopSignalName());
    for (const auto &s : streams) {
        if (s.online)
            logLine('I', "media", "closing stream rtp/%s_%s", s.deviceId.c_str(), s.channelId.c_str());
    }
    logLine('I', "main", "media server stopped after %s, bye", standin::uptimeText(started).c_str());
    return 0;
}
