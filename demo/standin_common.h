#pragma once

// Shared pieces of the demo stand-in servers (standin_mediaserver.cpp,
// standin_sipserver.cpp). The stand-ins are small programs of ours that only
// imitate how the platform's real servers behave under the launcher: start-up
// lines, periodic status lines, occasional warnings, a clean exit when asked
// to stop (SIGTERM on POSIX, Ctrl+Break on Windows). They serve nothing.
// Plain C++17 on POSIX and on Windows (Win32, Winsock 2); what differs
// between the two stays in this file.

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

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#endif

// libstdc++ selects MinGW's C99 printf family, whose format checks are
// gnu_printf's (%zu and the like), not those of the Microsoft runtime.
#ifdef __MINGW_PRINTF_FORMAT
#define STANDIN_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define STANDIN_PRINTF_FORMAT printf
#endif

namespace standin {

// ---------------------------------------------------------------------------
// The platform layer: stopping, standard streams, time, sockets.

#ifdef _WIN32

using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;
const char *const kLineEnd = "\r\n"; // as console programs write through text mode
const char *const kStopHow = "Ctrl+Break or Ctrl+C";

// The console control event plus one (0: none). Set on the thread the system
// starts for the event; the main loops poll it.
static std::atomic<int> g_stopSignal{0};

extern "C" BOOL WINAPI standinOnConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        g_stopSignal = static_cast<int>(event) + 1;
        // The system ends the program once a close event returns: the main
        // loop, which looks every 100 ms, says goodbye and exits before that.
        if (event == CTRL_CLOSE_EVENT)
            ::Sleep(2000);
        return TRUE;
    default:
        return FALSE;
    }
}

// Ctrl+Break (what the launcher sends to a server's own process group), Ctrl+C
// and closing the console end the program cleanly. A program started in a new
// process group has Ctrl+C switched off; a stand-in run by hand wants it.
inline void installSignalHandlers()
{
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(standinOnConsoleEvent, TRUE);
}

inline bool stopRequested()
{
    return g_stopSignal != 0;
}

inline const char *stopSignalName()
{
    switch (g_stopSignal - 1) {
    case CTRL_C_EVENT: return "Ctrl+C";
    case CTRL_BREAK_EVENT: return "Ctrl+Break";
    case CTRL_CLOSE_EVENT: return "console close";
    default: return "signal";
    }
}

// One WriteFile per line, so that the launcher receives each line as one
// chunk, promptly: no CRT buffering, no text-mode translation.
inline void writeStd(bool toStderr, const std::string &text)
{
    const HANDLE handle = ::GetStdHandle(toStderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;
    const char *data = text.data();
    size_t left = text.size();
    while (left > 0) {
        DWORD n = 0;
        if (!::WriteFile(handle, data, static_cast<DWORD>(left), &n, nullptr) || n == 0)
            return; // console gone: keep running silently, as servers do
        data += n;
        left -= n;
    }
}

inline std::string timestamp()
{
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    return buffer;
}

inline void sleepSlice(int ms)
{
    ::Sleep(static_cast<DWORD>(ms));
}

inline int processId()
{
    return static_cast<int>(::GetCurrentProcessId());
}

// In the ANSI code page, which the launcher decodes a Windows server's
// output with.
inline std::string currentDirectory()
{
    char buffer[MAX_PATH];
    const DWORD n = ::GetCurrentDirectoryA(sizeof buffer, buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string("?");
}

// MinGW's abort() (msvcrt) exits with code 3, which QProcess on Windows takes
// for a normal end. A crashed program ends with an exception status: the one
// abort() of the current runtime (UCRT) ends with, a fail-fast.
[[noreturn]] inline void crash()
{
    ::TerminateProcess(::GetCurrentProcess(), 0xC0000409); // STATUS_STACK_BUFFER_OVERRUN
    std::abort();
}

// Winsock is unusable before this.
inline bool initSockets()
{
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

inline Socket openTcpSocket()
{
    const Socket fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long nonBlocking = 1;
    if (fd != kNoSocket)
        ::ioctlsocket(fd, FIONBIO, &nonBlocking);
    return fd;
}

inline void closeSocket(Socket fd)
{
    ::closesocket(fd);
}

inline int lastSocketError()
{
    return ::WSAGetLastError();
}

inline bool connectPending(int error)
{
    return error == WSAEWOULDBLOCK;
}

inline std::string socketErrorText(int error)
{
    char buffer[256];
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               static_cast<DWORD>(error), 0, buffer, sizeof buffer, nullptr);
    while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r' || buffer[n - 1] == ' ' || buffer[n - 1] == '.'))
        --n;
    return n > 0 ? std::string(buffer, n) : "Winsock error " + std::to_string(error);
}

// Waits until fd can be written (a connect ended, also when it failed) or
// read: > 0 ready, 0 timed out. select(), since WSAPoll misses failed
// connects on older Windows.
inline int waitSocket(Socket fd, bool forWrite, int timeoutMs)
{
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(fd, &ready);
    FD_SET(fd, &failed);
    timeval limit = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return ::select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &limit);
}

inline void sendAll(Socket fd, const std::string &text)
{
    const char *data = text.data();
    int left = static_cast<int>(text.size());
    while (left > 0) {
        const int n = ::send(fd, data, left, 0);
        if (n <= 0)
            return;
        data += n;
        left -= n;
    }
}

#else

using Socket = int;
const Socket kNoSocket = -1;
const char *const kLineEnd = "\n";
const char *const kStopHow = "SIGTERM or SIGINT";

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

inline void writeStd(bool toStderr, const std::string &text)
{
    writeAll(toStderr ? STDERR_FILENO : STDOUT_FILENO, text);
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

inline void sleepSlice(int ms)
{
    struct timespec ts = {0, static_cast<long>(ms) * 1000000L};
    nanosleep(&ts, nullptr);
}

inline int processId()
{
    return static_cast<int>(::getpid());
}

inline std::string currentDirectory()
{
    char cwd[512];
    return ::getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string("?");
}

[[noreturn]] inline void crash()
{
    std::abort();
}

inline bool initSockets()
{
    return true;
}

inline Socket openTcpSocket()
{
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

inline void closeSocket(Socket fd)
{
    ::close(fd);
}

inline int lastSocketError()
{
    return errno;
}

inline bool connectPending(int error)
{
    return error == EINPROGRESS;
}

inline std::string socketErrorText(int error)
{
    return std::strerror(error);
}

// > 0 ready, 0 timed out.
inline int waitSocket(Socket fd, bool forWrite, int timeoutMs)
{
    struct pollfd p = {fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    return ::poll(&p, 1, timeoutMs);
}

inline void sendAll(Socket fd, const std::string &text)
{
    writeAll(fd, text);
}

#endif

// level: 'I' info and 'D' debug go to stdout, 'W' warning and 'E' error to
// stderr, each as one "<time> <level> [<module>] <text>" line.
inline void logLine(char level, const char *module, const char *format, ...)
    __attribute__((format(STANDIN_PRINTF_FORMAT, 3, 4)));

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
    line += kLineEnd;
    writeStd(level == 'W' || level == 'E', line);
}

// Sleeps up to ms milliseconds; returns early (false) when a stop signal came.
inline bool sleepMs(int ms)
{
    while (ms > 0 && !stopRequested()) {
        const int slice = ms < 100 ? ms : 100;
        sleepSlice(slice);
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
    logLine('I', "main", "%s (demo stand-in) %s starting, pid %d", title, version, processId());
    logLine('I', "main", "stand-in: %s; the real server is set in config/SetupConfig.ini", standInNote);
    logLine('I', "main", "working directory %s", currentDirectory().c_str());
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

// Connects with a time limit; returns the socket or kNoSocket with the reason.
inline Socket connectWithTimeout(const Endpoint &endpoint, int timeoutMs, std::string &error)
{
    const Socket fd = openTcpSocket();
    if (fd == kNoSocket) {
        error = socketErrorText(lastSocketError());
        return kNoSocket;
    }
    struct sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(endpoint.port));
    inet_pton(AF_INET, endpoint.host.c_str(), &address.sin_addr);
    if (::connect(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0) {
        const int connectError = lastSocketError();
        if (!connectPending(connectError)) {
            error = socketErrorText(connectError);
            closeSocket(fd);
            return kNoSocket;
        }
        if (waitSocket(fd, true, timeoutMs) <= 0) {
            error = "timed out";
            closeSocket(fd);
            return kNoSocket;
        }
        int soError = 0;
        socklen_t length = sizeof soError;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&soError), &length);
        if (soError != 0) {
            error = socketErrorText(soError);
            closeSocket(fd);
            return kNoSocket;
        }
    }
    return fd;
}

// Reads what arrives within the time limit (at most capacity bytes).
inline std::string readSome(Socket fd, size_t capacity, int timeoutMs)
{
    std::string data;
    if (waitSocket(fd, false, timeoutMs) > 0) {
        std::vector<char> buffer(capacity);
        const auto n = ::recv(fd, buffer.data(), static_cast<int>(buffer.size()), 0);
        if (n > 0)
            data.assign(buffer.data(), static_cast<size_t>(n));
    }
    return data;
}

} // namespace standin
