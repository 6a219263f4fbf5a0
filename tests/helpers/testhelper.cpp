// One child program with many behaviours, driven by its arguments, which are
// executed in order:
//   out TEXT     write TEXT to stdout (escapes: \n \t \0 \\ \xHH), flush
//   err TEXT     the same to stderr
//   sleep MS     sleep MS milliseconds
//   exit CODE    exit with CODE
//   crash        die from SIGSEGV; on Windows end with an access violation's
//                exit code (a real one would bring up Wine's crash debugger)
//   pid          print "<label>pid=<pid>\n" on stdout
//   label TEXT   the label printed before "pid=" from now on (default none)
//   cwd          print "cwd=<dir>\n" on stdout
//   args         print "argc=<n>\n" and "arg[<i>]=<a>\n" for every argument after "args"
//   grandchild   start a child of its own that runs "pause"; print
//                "grandchild=<pid>\n". It shares stdout and stderr, on Unix
//                by fork, on Windows by inheriting them with a copy of this
//                program, in the same console
//   pause        sleep until ended, reacting to signals (Windows: console
//                events) as the system does by default
//   flood BYTES  write about BYTES of realistic log lines to stdout in 64 KiB writes
//   logger RATE SECONDS  write RATE log lines of 150-250 bytes a second, one
//                to four lines a write, for SECONDS
//   forever      sleep until killed; on SIGTERM (Windows: Ctrl+C, Ctrl+Break
//                or the console closing) exit 0 after "bye\n"
//   onterm PATH  from now on a stop request that "forever" hears first creates PATH
//   ignoreterm   ignore SIGTERM (Windows: Ctrl+C and Ctrl+Break), so
//                "forever" runs until killed
//   background   the parent prints "background=<child pid>\n" and exits 0,
//                the child goes on with the remaining commands (a start
//                script's "server &"): on Unix a fork in the same process
//                group, on Windows a copy of this program in the same console
//                that inherits stdout and stderr and is handed the label,
//                onterm and ignoreterm given so far
// Without arguments it prints "noargs\n". On Windows stdout stays in text
// mode, so lines end in "\r\n" as other Windows programs' do.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <direct.h>
#include <process.h>
#include <windows.h>
#include <shellapi.h>
#define getcwd _getcwd
#define getpid _getpid
#else
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {

std::string unescape(const char *s)
{
    std::string out;
    for (; *s; ++s) {
        if (*s != '\\' || !s[1]) {
            out += *s;
            continue;
        }
        ++s;
        switch (*s) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '0': out += '\0'; break;
        case '\\': out += '\\'; break;
        case 'x':
            if (s[1] && s[2]) {
                out += static_cast<char>(std::strtol(std::string(s + 1, 2).c_str(), nullptr, 16));
                s += 2;
            }
            break;
        default: out += '\\'; out += *s; break;
        }
    }
    return out;
}

void writeAll(FILE *f, const std::string &data)
{
    std::fwrite(data.data(), 1, data.size(), f);
    std::fflush(f);
}

const char *const levels[] = {"INFO", "DEBUG", "WARN", "INFO"};
const char *const messages[] = {
    "[SIP] REGISTER from 34020000001320000001@192.168.1.64:5060 accepted, expires 3600",
    "[RTP] stream 34020000001310000001 ssrc=0x1f2e3d4c port 30012 recv 1316 bytes seq 48213",
    "[HTTP] GET /index/api/getMediaList?secret=*** 200 OK 3ms",
    "[SIP] MESSAGE Keepalive from 34020000001320000002, status OK",
    "[RTSP] play rtsp://127.0.0.1:554/rtp/34020000001310000001 session 7f3a9c",
};

int logLine(char *line, size_t size, long long n, int padding)
{
    return std::snprintf(line, size, "2026-12-07 10:%02lld:%02lld.%03lld %s %s #%lld %.*s\n", (n / 60000) % 60,
                         (n / 1000) % 60, n % 1000, levels[n % 4], messages[n % 5], n, padding,
                         "................................................................................"
                         "................................................................................");
}

void flood(long long bytes)
{
    static char buffer[65536];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    long long written = 0;
    char line[512];
    for (long long n = 0; written < bytes; ++n) {
        const int len = logLine(line, sizeof line, n, 0);
        std::fwrite(line, 1, static_cast<size_t>(len), stdout);
        written += len;
    }
    std::fflush(stdout);
}

void logger(int rate, int seconds)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const long long total = static_cast<long long>(rate) * seconds;
    char line[512];
    for (long long n = 0; n < total;) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(n * 1000000 / rate));
        for (int k = 0, lines = 1 + static_cast<int>(n % 4); k < lines && n < total; ++k, ++n) {
            // Messages are 56-88 bytes; padding brings lines to 150-250.
            const int len = logLine(line, sizeof line, n, 80 + static_cast<int>((n * 37) % 80));
            std::fwrite(line, 1, static_cast<size_t>(len), stdout);
        }
        std::fflush(stdout);
    }
}

volatile std::sig_atomic_t g_term = 0;
std::string g_termMarker;
bool g_ignoreTerm = false;

#if defined(_WIN32)
// The arguments as UTF-16, as they were given: a copy of this program gets
// them unchanged whatever the code page.
std::vector<std::wstring> wideArguments()
{
    std::vector<std::wstring> args;
    int count = 0;
    if (wchar_t **list = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        args.assign(list, list + count);
        ::LocalFree(list);
    }
    return args;
}

// Quoted so that the C runtime's parser gives the argument back as it is.
std::wstring quoted(const std::wstring &arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    for (size_t i = 0;; ++i) {
        size_t slashes = 0;
        for (; i < arg.size() && arg[i] == L'\\'; ++i)
            ++slashes;
        if (i == arg.size()) {
            out.append(slashes * 2, L'\\');
            break;
        }
        if (arg[i] == L'"')
            out.append(slashes * 2 + 1, L'\\');
        else
            out.append(slashes, L'\\');
        out += arg[i];
    }
    return out + L'"';
}

// Starts this program again with the given commands, in the same console and
// with the same standard handles, which it inherits as a forked child would.
// Returns its process id, 0 when it could not be started.
unsigned long startCopy(const std::vector<std::wstring> &commands)
{
    std::vector<wchar_t> self(32768);
    const DWORD length = ::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (length == 0 || length >= self.size())
        return 0;
    std::wstring commandLine = quoted(self.data());
    for (const std::wstring &command : commands)
        commandLine += L' ' + quoted(command);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    HANDLE *const handles[] = {&startup.hStdInput, &startup.hStdOutput, &startup.hStdError};
    const DWORD ids[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int k = 0; k < 3; ++k) {
        *handles[k] = ::GetStdHandle(ids[k]);
        if (*handles[k] && *handles[k] != INVALID_HANDLE_VALUE)
            ::SetHandleInformation(*handles[k], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(self.data(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &info))
        return 0;
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    // A forked child hears its group's signals from its first instant; the
    // copy hears console events only once it is on the console's list.
    // Named before that, a stop request could come too early for it.
    for (int tries = 0; tries < 500; ++tries) {
        DWORD attached[64] = {};
        const DWORD n = ::GetConsoleProcessList(attached, 64);
        if (n == 0 || std::find(attached, attached + std::min<DWORD>(n, 64), info.dwProcessId) != attached + std::min<DWORD>(n, 64))
            break;
        ::Sleep(10);
    }
    return info.dwProcessId;
}

// What "forever" hears instead of SIGTERM. The system ends the process as
// soon as a close event's handler returns: it waits for main to finish.
BOOL WINAPI onStopEvent(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT)
        return FALSE;
    g_term = 1;
    if (type == CTRL_CLOSE_EVENT)
        ::Sleep(INFINITE);
    return TRUE;
}

BOOL WINAPI ignoreStopEvent(DWORD type)
{
    return type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT;
}
#endif

} // namespace

int main(int argc, char **argv)
{
    if (argc == 1) {
        writeAll(stdout, "noargs\n");
        return 0;
    }
    std::string label;
#if defined(_WIN32)
    const std::vector<std::wstring> wideArgs = wideArguments();
    const auto wide = [&wideArgs](int index) {
        return index >= 0 && index < static_cast<int>(wideArgs.size()) ? wideArgs[index] : std::wstring();
    };
    int labelIndex = -1;
    int termMarkerIndex = -1;
#endif
    for (int i = 1; i < argc; ++i) {
        const std::string cmd = argv[i];
        const char *arg = i + 1 < argc ? argv[i + 1] : "";
        if (cmd == "out") {
            writeAll(stdout, unescape(arg));
            ++i;
        } else if (cmd == "repeat") {
            // repeat N text: one write of text N times
            const char *text = i + 2 < argc ? argv[i + 2] : "";
            std::string piece = unescape(text), all;
            for (long n = std::atol(arg); n > 0; --n)
                all += piece;
            writeAll(stdout, all);
            i += 2;
        } else if (cmd == "err") {
            writeAll(stderr, unescape(arg));
            ++i;
        } else if (cmd == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(arg)));
            ++i;
        } else if (cmd == "exit") {
            return std::atoi(arg);
        } else if (cmd == "crash") {
#if defined(_WIN32)
            ::TerminateProcess(::GetCurrentProcess(), EXCEPTION_ACCESS_VIOLATION);
#else
            std::signal(SIGSEGV, SIG_DFL);
            std::raise(SIGSEGV);
#endif
        } else if (cmd == "label") {
            label = arg;
#if defined(_WIN32)
            labelIndex = i + 1;
#endif
            ++i;
        } else if (cmd == "pid") {
            writeAll(stdout, label + "pid=" + std::to_string(getpid()) + "\n");
        } else if (cmd == "cwd") {
            char buf[4096] = {};
            if (getcwd(buf, sizeof buf))
                writeAll(stdout, std::string("cwd=") + buf + "\n");
        } else if (cmd == "args") {
            std::string text = "argc=" + std::to_string(argc - i - 1) + "\n";
            for (int j = i + 1; j < argc; ++j)
                text += "arg[" + std::to_string(j - i - 1) + "]=" + argv[j] + "\n";
            writeAll(stdout, text);
            return 0;
        } else if (cmd == "grandchild") {
#if defined(_WIN32)
            writeAll(stdout, "grandchild=" + std::to_string(startCopy({L"pause"})) + "\n");
#else
            const pid_t pid = fork();
            if (pid == 0) {
                for (;;)
                    pause();
            }
            writeAll(stdout, "grandchild=" + std::to_string(pid) + "\n");
#endif
        } else if (cmd == "pause") {
            for (;;) {
#if defined(_WIN32)
                ::Sleep(INFINITE);
#else
                pause();
#endif
            }
        } else if (cmd == "flood") {
            flood(std::atoll(arg));
            ++i;
        } else if (cmd == "logger") {
            logger(std::atoi(arg), i + 2 < argc ? std::atoi(argv[i + 2]) : 1);
            i += 2;
        } else if (cmd == "forever") {
            if (!g_ignoreTerm) {
#if defined(_WIN32)
                ::SetConsoleCtrlHandler(onStopEvent, TRUE);
#else
                std::signal(SIGTERM, [](int) { g_term = 1; });
#endif
            }
            while (!g_term)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!g_termMarker.empty()) {
                if (FILE *f = std::fopen(g_termMarker.c_str(), "w"))
                    std::fclose(f);
            }
            writeAll(stdout, "bye\n");
            return 0;
        } else if (cmd == "onterm") {
            g_termMarker = arg;
#if defined(_WIN32)
            termMarkerIndex = i + 1;
#endif
            ++i;
        } else if (cmd == "ignoreterm") {
            g_ignoreTerm = true;
#if defined(_WIN32)
            // The flag ignores Ctrl+C and, like SIG_IGN, is inherited;
            // Ctrl+Break needs a handler.
            ::SetConsoleCtrlHandler(nullptr, TRUE);
            ::SetConsoleCtrlHandler(ignoreStopEvent, TRUE);
#else
            std::signal(SIGTERM, SIG_IGN);
#endif
        } else if (cmd == "background") {
            // The parent names its child before it exits: what the child
            // writes after the parent is gone may never be read.
#if defined(_WIN32)
            // A new process: what a fork would have kept is passed on.
            std::vector<std::wstring> rest;
            if (labelIndex >= 0)
                rest.insert(rest.end(), {L"label", wide(labelIndex)});
            if (termMarkerIndex >= 0)
                rest.insert(rest.end(), {L"onterm", wide(termMarkerIndex)});
            if (g_ignoreTerm)
                rest.push_back(L"ignoreterm");
            for (int j = i + 1; j < argc; ++j)
                rest.push_back(wide(j));
            const unsigned long child = startCopy(rest);
            if (child == 0)
                return 1;
            writeAll(stdout, "background=" + std::to_string(child) + "\n");
            return 0;
#else
            if (const pid_t child = fork(); child > 0) {
                writeAll(stdout, "background=" + std::to_string(child) + "\n");
                return 0;
            }
#endif
        }
    }
    return 0;
}
