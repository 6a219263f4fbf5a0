#pragma once

// Shared pieces of the demo stand-in servers (standin_mediaserver.cpp,
// standin_sipserver.cpp). The stand-ins are small programs of ours that only
// imitate how the platform's real servers behave under the launcher: start-up
// lines, periodic status lines, occasional warnings, a clean exit on SIGTERM.
// They serve nothing. Plain C++17 and POSIX.

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace standin {

// Set by the signal handler; the main loops poll it.
static volatile std::sig_atomic_t g_stopSignal = 0;

extern "C" void standinOnStopSignal(int sig)
{
    g_stopSignal = sig;
}

// SIGTERM, SIGINT and SIGHUP end the program cleanly. No SA_RESTART, so a
// sleep is cut short. A closed console pipe must not kill the program.
inline void installSignalHandlers()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = standinOnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

inline bool stopRequested()
{
    return g_stopSignal != 0;
}

inline const char *stopSignalName()
{
    switch (g_stopSignal) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    default: return "signal";
    }
}

// Writes one whole line with a single write(2) where possible, so that the
// launcher receives each line as one chunk, promptly (no stdio buffering).
inline void writeAll(int fd, const std::string &text)
{
    const char *data = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return; // console gone: keep running silently, as servers do
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
}

inline std::string timestamp()
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    char buffer[48];
    const size_t used = std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(buffer + used, sizeof buffer - used, ".%03d", static_cast<int>(now.tv_usec / 1000));
    return buffer;
}

// level: 'I' info and 'D' debug go to stdout, 'W' warning and 'E' error to
// stderr, each as one "<time> <level> [<module>] <text>" line.
inline void logLine(char level, const char *module, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

inline void logLine(char level, const char *module, const char *format, ...)
{
    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    std::string line = timestamp();
    line += ' ';
    line += level;
    line += " [";
    line += module;
    line += "] ";
    line += message;
    line += '\n';
    writeAll(level == 'W' || level == 'E' ? STDERR_FILENO : STDOUT_FILENO, line);
}

// Sleeps up to ms milliseconds; returns early (false) when a stop signal came.
inline bool sleepMs(int ms)
{
    while (ms > 0 && !stopRequested()) {
        const int slice = ms < 100 ? ms : 100;
        struct timespec ts = {0, static_cast<long>(slice) * 1000000L};
        nanosleep(&ts, nullptr);
        ms -= slice;
    }
    return !stopRequested();
}

// Small deterministic pseudo-random source (xorshift), seeded per run.
class Random
{
public:
    explicit Random(std::uint32_t seed) : state(seed ? seed : 0x9E3779B9u) {}
    std::uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    // Uniform in [low, high].
    int between(int low, int high)
    {
        return low + static_cast<int>(next() % static_cast<std::uint32_t>(high - low + 1));
    }
    bool chance(int percent) { return between(1, 100) <= percent; }

private:
    std::uint32_t state;
};

inline std::string uptimeText(time_t started)
{
    const long seconds = static_cast<long>(std::time(nullptr) - started);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02ld:%02ld:%02ld", seconds / 3600, (seconds / 60) % 60, seconds % 60);
    return buffer;
}

// "--name=value" options; everything else is reported as unknown.
struct Options
{
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<std::string> unknown;
    bool help = false;

    Options(int argc, char **argv)
    {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg.empty())
                continue; // the launcher keeps empty pieces of the parameter text
            if (arg == "-h" || arg == "--help") {
                help = true;
                continue;
            }
            const size_t eq = arg.find('=');
            if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos)
                values.emplace_back(arg.substr(2, eq - 2), arg.substr(eq + 1));
            else
                unknown.push_back(arg);
        }
    }

    std::string get(const std::string &name, const std::string &fallback) const
    {
        for (auto it = values.rbegin(); it != values.rend(); ++it) {
            if (it->first == name)
                return it->second;
        }
        return fallback;
    }

    int getInt(const std::string &name, int fallback) const
    {
        const std::string text = get(name, std::string());
        if (text.empty())
            return fallback;
        char *end = nullptr;
        const long value = std::strtol(text.c_str(), &end, 10);
        return (end && *end == '\0') ? static_cast<int>(value) : fallback;
    }

    bool isKnown(const std::string &name, const std::vector<std::string> &known) const
    {
        for (const auto &k : known) {
            if (k == name)
                return true;
        }
        return false;
    }
};

// ---------------------------------------------------------------------------
// Loopback probes (the SIP stand-in checks that MySQL and Redis answer).

// The start-up lines both stand-ins print: who they are, that they are
// stand-ins, where they run, and which arguments they ignore.
inline void announceStart(const char *title, const char *version, const char *standInNote,
                          const Options &options, const std::vector<std::string> &known)
{
    char cwd[512] = "?";
    if (!::getcwd(cwd, sizeof cwd))
        std::strcpy(cwd, "?");
    logLine('I', "main", "%s (demo stand-in) %s starting, pid %d", title, version, static_cast<int>(::getpid()));
    logLine('I', "main", "stand-in: %s; the real server is set in config/SetupConfig.ini", standInNote);
    logLine('I', "main", "working directory %s", cwd);
    for (const auto &unknown : options.unknown)
        logLine('W', "main", "ignoring unknown argument \"%s\"", unknown.c_str());
    for (const auto &value : options.values) {
        if (!options.isKnown(value.first, known))
            logLine('W', "main", "ignoring unknown option --%s", value.first.c_str());
    }
}

struct Endpoint
{
    std::string host = "127.0.0.1";
    int port = 0;
    std::string text() const { return host + ":" + std::to_string(port); }
};

// "host:port"; only loopback addresses are accepted.
inline bool parseEndpoint(const std::string &text, Endpoint &out)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    Endpoint e;
    e.host = text.substr(0, colon);
    if (e.host == "localhost")
        e.host = "127.0.0.1";
    e.port = std::atoi(text.c_str() + colon + 1);
    struct in_addr address;
    if (e.port <= 0 || e.port > 65535 || inet_pton(AF_INET, e.host.c_str(), &address) != 1)
        return false;
    if ((ntohl(address.s_addr) >> 24) != 127)
        return false;
    out = e;
    return true;
}

// Connects with a time limit; returns the socket or -1 with the reason.
inline int connectWithTimeout(const Endpoint &endpoint, int timeoutMs, std::string &error)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    struct sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(endpoint.port));
    inet_pton(AF_INET, endpoint.host.c_str(), &address.sin_addr);
    if (::connect(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) {
            error = std::strerror(errno);
            ::close(fd);
            return -1;
        }
        struct pollfd p = {fd, POLLOUT, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) {
            error = "timed out";
            ::close(fd);
            return -1;
        }
        int soError = 0;
        socklen_t length = sizeof soError;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length);
        if (soError != 0) {
            error = std::strerror(soError);
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

// Reads what arrives within the time limit (at most capacity bytes).
inline std::string readSome(int fd, size_t capacity, int timeoutMs)
{
    std::string data;
    struct pollfd p = {fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) > 0) {
        std::vector<char> buffer(capacity);
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n > 0)
            data.assign(buffer.data(), static_cast<size_t>(n));
    }
    return data;
}

} // namespace standin
