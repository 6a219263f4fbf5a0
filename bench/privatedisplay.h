// Shared by the start-up and idle benchmarks: a private Xvfb display that the
// benchmark starts itself, watched from outside the measured programs over
// the benchmark's own X connection, and child processes started by fork/exec.
//
// "Shown" is seen from outside, without any code in the measured program:
//  - the benchmark holds the display's window-manager role (substructure
//    redirect on the root window), so a top-level window's MapRequest comes
//    to it; it carries out the request as a window manager would, giving a
//    window that asks to be maximised (_NET_WM_STATE) the whole screen;
//  - the MapNotify that follows marks the window mapped;
//  - a DAMAGE object on the root window reports every drawing that reaches
//    the screen; the window counts as shown once the drawings since its map
//    cover all of it: the first full frame the operator can see.
// The benchmark blocks in poll() on its X connection and timestamps every
// event with the monotonic clock as it arrives: the precision is that of a
// local socket wake-up, well under a millisecond.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcessEnvironment>
#include <QRect>
#include <QRegion>
#include <QSet>
#include <QSharedMemory>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>
#include <QWidget>

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

inline double nowMs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

inline double median(QVector<double> v)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    const int n = v.size();
    return n % 2 ? v.at(n / 2) : (v.at(n / 2 - 1) + v.at(n / 2)) / 2;
}

inline double minOf(const QVector<double> &v)
{
    return v.isEmpty() ? 0 : *std::min_element(v.begin(), v.end());
}

inline double maxOf(const QVector<double> &v)
{
    return v.isEmpty() ? 0 : *std::max_element(v.begin(), v.end());
}

// ---------------------------------------------------------------------------
// Child processes

class Child
{
public:
    Child() = default;
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    ~Child() { stop(); }

    // Starts `program` (looked up in PATH when it has no slash) with the given
    // environment; stdout and stderr go to `logPath`. `keepFd` stays open in
    // the child. The child gets SIGTERM if the benchmark dies first.
    bool start(const QString &program, const QStringList &args, const QStringList &env, const QString &logPath,
               int keepFd = -1)
    {
        // Everything the child needs is prepared before fork.
        QVector<QByteArray> argStore{QFile::encodeName(program)};
        for (const QString &a : args)
            argStore.append(a.toLocal8Bit());
        QVector<QByteArray> envStore;
        for (const QString &e : env)
            envStore.append(e.toLocal8Bit());
        QVector<char *> argv, envp;
        for (QByteArray &a : argStore)
            argv.append(a.data());
        argv.append(nullptr);
        for (QByteArray &e : envStore)
            envp.append(e.data());
        envp.append(nullptr);
        const int log = ::open(QFile::encodeName(logPath).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (log < 0)
            return false;
        const pid_t parent = ::getpid();
        pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                ::_exit(127);
            ::dup2(log, 1);
            ::dup2(log, 2);
            if (keepFd >= 0)
                ::fcntl(keepFd, F_SETFD, 0);
            ::execvpe(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(log);
        exitStatus = -1;
        return pid > 0;
    }

    bool running()
    {
        if (pid <= 0)
            return false;
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) {
            exitStatus = status;
            pid = -1;
            return false;
        }
        return true;
    }

    // SIGTERM, then SIGKILL if it is still there after three seconds.
    void stop()
    {
        if (pid <= 0)
            return;
        ::kill(pid, SIGTERM);
        const double deadline = nowMs() + 3000;
        while (running()) {
            if (nowMs() > deadline) {
                ::kill(pid, SIGKILL);
                int status = 0;
                ::waitpid(pid, &status, 0);
                pid = -1;
                break;
            }
            ::usleep(2000);
        }
    }

    pid_t pid = -1;
    int exitStatus = -1;
};

// The current environment with `extra` (KEY=VALUE) set over it.
inline QStringList environmentWith(const QStringList &extra)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &kv : extra) {
        const int eq = kv.indexOf(QLatin1Char('='));
        env.insert(kv.left(eq), kv.mid(eq + 1));
    }
    return env.toStringList();
}

// ---------------------------------------------------------------------------
// The launcher, copied with its config/ folder but without the operator's
// settings file, so that it starts with settings of its own.

inline bool copyLauncher(const QString &executable, const QString &targetDir, QString *error)
{
    const QFileInfo exe(executable);
    if (!exe.isExecutable()) {
        *error = QStringLiteral("no launcher executable at %1").arg(executable);
        return false;
    }
    QDir().mkpath(targetDir);
    const QString target = targetDir + QLatin1Char('/') + exe.fileName();
    if (!QFile::copy(exe.absoluteFilePath(), target)) {
        *error = QStringLiteral("cannot copy %1").arg(executable);
        return false;
    }
    const QString configDir = exe.absolutePath() + QStringLiteral("/config");
    QDirIterator it(configDir, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString from = it.next();
        const QString rel = QDir(configDir).relativeFilePath(from);
        if (rel == QLatin1String("SetupConfig.ini"))
            continue;
        const QString to = targetDir + QStringLiteral("/config/") + rel;
        QDir().mkpath(QFileInfo(to).absolutePath());
        QFile::copy(from, to);
    }
    return true;
}

// A launcher ended by a signal leaves its single-instance segment behind.
// Attaching and detaching once, with the copy's temporary folder, removes it
// (the launcher does the same at its next start), so every start is clean.
inline void dropLauncherGuard(const QString &tmpDir)
{
    const QByteArray saved = qgetenv("TMPDIR");
    const bool had = qEnvironmentVariableIsSet("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(tmpDir));
    {
        QSharedMemory probe(QStringLiteral("Tessarin"));
        if (probe.attach(QSharedMemory::ReadWrite))
            probe.detach();
    }
    if (had)
        qputenv("TMPDIR", saved);
    else
        qunsetenv("TMPDIR");
}

// ---------------------------------------------------------------------------
// CPU time from /proc

struct CpuSample
{
    long long ticks = 0; // utime + stime (+ cutime + cstime), clock ticks
    long long ns = 0;    // sum of the threads' run time (schedstat), ns
};

inline QByteArray readProcFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

// Fields after the command name: state is field 3, utime 14, stime 15,
// cutime 16, cstime 17.
inline bool statTicks(pid_t pid, long long *own, long long *reaped)
{
    const QByteArray stat = readProcFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return false;
    const QList<QByteArray> f = stat.mid(close + 2).split(' ');
    if (f.size() < 15)
        return false;
    *own = f.at(11).toLongLong() + f.at(12).toLongLong();
    *reaped = f.at(13).toLongLong() + f.at(14).toLongLong();
    return true;
}

inline long long threadsNs(pid_t pid)
{
    long long sum = 0;
    const QStringList tasks = QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &tid : tasks) {
        const QByteArray s = readProcFile(QStringLiteral("/proc/%1/task/%2/schedstat").arg(pid).arg(tid));
        sum += s.left(s.indexOf(' ')).toLongLong();
    }
    return sum;
}

inline QVector<pid_t> childrenOf(pid_t pid)
{
    QVector<pid_t> out;
    const QStringList tasks = QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &tid : tasks) {
        const QByteArray c = readProcFile(QStringLiteral("/proc/%1/task/%2/children").arg(pid).arg(tid)).trimmed();
        for (const QByteArray &p : c.split(' ')) {
            if (!p.isEmpty())
                out.append(p.toInt());
        }
    }
    return out;
}

// The process, its reaped children and its live children (the launcher's
// watchdog, once a server has been started).
inline CpuSample cpuOf(pid_t pid, bool withChildren)
{
    CpuSample s;
    long long own = 0, reaped = 0;
    if (statTicks(pid, &own, &reaped))
        s.ticks = own + (withChildren ? reaped : 0);
    s.ns = threadsNs(pid);
    if (withChildren) {
        for (pid_t c : childrenOf(pid)) {
            long long cOwn = 0, cReaped = 0;
            if (statTicks(c, &cOwn, &cReaped))
                s.ticks += cOwn + cReaped;
            s.ns += threadsNs(c);
        }
    }
    return s;
}

// ---------------------------------------------------------------------------
// The private display

class PrivateDisplay
{
public:
    struct Shown
    {
        double mappedAt = -1; // monotonic ms
        double frameAt = -1;  // monotonic ms: first full frame
        xcb_window_t window = 0;
        QRect geometry;
        QString title;
    };

    PrivateDisplay() = default;
    PrivateDisplay(const PrivateDisplay &) = delete;
    PrivateDisplay &operator=(const PrivateDisplay &) = delete;
    ~PrivateDisplay()
    {
        if (conn)
            xcb_disconnect(conn);
        server.stop();
    }

    // Starts Xvfb on the first free display number (-displayfd) and takes the
    // window-manager role on it.
    bool start(const QString &screen, const QString &logPath, QString *error)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            *error = QStringLiteral("pipe failed");
            return false;
        }
        const QStringList args{QStringLiteral("-displayfd"), QString::number(fds[1]), QStringLiteral("-noreset"),
                               QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                               QStringLiteral("0"), screen};
        if (!server.start(QStringLiteral("Xvfb"), args, environmentWith({}), logPath, fds[1])) {
            *error = QStringLiteral("cannot start Xvfb");
            ::close(fds[0]);
            ::close(fds[1]);
            return false;
        }
        ::close(fds[1]);
        QByteArray number;
        const double deadline = nowMs() + 15000;
        while (!number.contains('\n') && nowMs() < deadline && server.running()) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                char buf[32];
                const ssize_t n = ::read(fds[0], buf, sizeof buf);
                if (n <= 0)
                    break;
                number.append(buf, int(n));
            }
        }
        ::close(fds[0]);
        if (!number.contains('\n')) {
            *error = QStringLiteral("Xvfb did not report its display (see %1)").arg(logPath);
            return false;
        }
        name = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
        int screenNumber = 0;
        conn = xcb_connect(name.toLatin1().constData(), &screenNumber);
        if (xcb_connection_has_error(conn)) {
            *error = QStringLiteral("cannot connect to %1").arg(name);
            return false;
        }
        const xcb_setup_t *setup = xcb_get_setup(conn);
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
        for (int i = 0; i < screenNumber; ++i)
            xcb_screen_next(&it);
        root = it.data->root;
        screenSize = QSize(it.data->width_in_pixels, it.data->height_in_pixels);

        atomState = atom("_NET_WM_STATE");
        atomMaxV = atom("_NET_WM_STATE_MAXIMIZED_VERT");
        atomMaxH = atom("_NET_WM_STATE_MAXIMIZED_HORZ");
        atomFull = atom("_NET_WM_STATE_FULLSCREEN");
        atomPid = atom("_NET_WM_PID");
        atomName = atom("_NET_WM_NAME");
        atomProtocols = atom("WM_PROTOCOLS");
        atomDelete = atom("WM_DELETE_WINDOW");
        atomChangeState = atom("WM_CHANGE_STATE");
        atomWmState = atom("WM_STATE");

        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_generic_error_t *err =
            xcb_request_check(conn, xcb_change_window_attributes_checked(conn, root, XCB_CW_EVENT_MASK, &mask));
        if (err) {
            std::free(err);
            *error = QStringLiteral("another window manager holds %1").arg(name);
            return false;
        }
        if (!startDamage()) {
            *error = QStringLiteral("the X server on %1 has no DAMAGE extension").arg(name);
            return false;
        }
        return true;
    }

    // Serves the display until a top-level window of `child` has been mapped
    // and fully drawn, the child ends, or `timeoutMs` passes.
    bool waitShown(Child &child, double timeoutMs, Shown *shown, QString *error)
    {
        watchPid = child.pid;
        current = Shown();
        painted = QRegion();
        const double deadline = nowMs() + timeoutMs;
        while (current.frameAt < 0) {
            if (!child.running()) {
                *error = QStringLiteral("the program ended before its window was shown");
                break;
            }
            if (nowMs() > deadline) {
                *error = QStringLiteral("no window shown within %1 ms").arg(timeoutMs);
                break;
            }
            if (!pump(10)) {
                *error = QStringLiteral("lost the connection to the display");
                break;
            }
        }
        watchPid = -1;
        *shown = current;
        return current.frameAt >= 0;
    }

    // Serves the display (window-manager requests, damage reports) for `ms`.
    void serve(double ms)
    {
        const double deadline = nowMs() + ms;
        for (double left = ms; left > 0; left = deadline - nowMs()) {
            if (!pump(int(std::min(left, 50.0)) + 1))
                return;
        }
    }

    // What the screen shows now (for checking what "shown" looked like).
    QImage grab(const QRect &area)
    {
        xcb_get_image_reply_t *r = xcb_get_image_reply(
            conn,
            xcb_get_image(conn, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(area.x()), int16_t(area.y()),
                          uint16_t(area.width()), uint16_t(area.height()), ~0u),
            nullptr);
        if (!r)
            return QImage();
        const QImage image(xcb_get_image_data(r), area.width(), area.height(), QImage::Format_RGB32);
        QImage copy = r->depth == 24 ? image.copy() : QImage();
        std::free(r);
        return copy;
    }

    // The close button of the title bar, as a window manager handles it.
    void requestClose(xcb_window_t w)
    {
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = w;
        ev.type = atomProtocols;
        ev.data.data32[0] = atomDelete;
        ev.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(conn, 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&ev));
        xcb_flush(conn);
    }

    // Minimising, as a window manager does it (ICCCM iconic state): also
    // what a program's own request to be minimised ends in.
    void iconify(xcb_window_t w)
    {
        const uint32_t state[] = {3, XCB_NONE}; // IconicState, no icon window
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, w, atomWmState, atomWmState, 32, 2, state);
        xcb_unmap_window(conn, w);
        xcb_flush(conn);
    }

    // Gives `w` the input focus and types one key into it (by keysym).
    bool typeKey(xcb_window_t w, uint32_t keysym)
    {
        const xcb_setup_t *setup = xcb_get_setup(conn);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        xcb_get_keyboard_mapping_reply_t *r = xcb_get_keyboard_mapping_reply(
            conn, xcb_get_keyboard_mapping(conn, setup->min_keycode, uint8_t(count)), nullptr);
        if (!r)
            return false;
        const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(r);
        const int perCode = std::max<int>(1, r->keysyms_per_keycode);
        xcb_keycode_t code = 0;
        for (int i = 0; i < xcb_get_keyboard_mapping_keysyms_length(r) && !code; ++i) {
            if (syms[i] == keysym)
                code = xcb_keycode_t(setup->min_keycode + i / perCode);
        }
        std::free(r);
        if (!code)
            return false;
        // The server queues the FocusIn before the keys sent after it.
        xcb_set_input_focus(conn, XCB_INPUT_FOCUS_POINTER_ROOT, w, XCB_CURRENT_TIME);
        for (uint8_t type : {uint8_t(XCB_KEY_PRESS), uint8_t(XCB_KEY_RELEASE)}) {
            xcb_key_press_event_t ev{};
            ev.response_type = type;
            ev.detail = code;
            ev.root = root;
            ev.event = w;
            ev.same_screen = 1;
            xcb_send_event(conn, 0, w, type == XCB_KEY_PRESS ? XCB_EVENT_MASK_KEY_PRESS : XCB_EVENT_MASK_KEY_RELEASE,
                           reinterpret_cast<const char *>(&ev));
        }
        xcb_flush(conn);
        return true;
    }

    // Serves the display until `w` is unmapped or `timeoutMs` passes.
    bool waitUnmapped(xcb_window_t w, double timeoutMs)
    {
        const double deadline = nowMs() + timeoutMs;
        while (!unmapped.contains(w) && nowMs() < deadline) {
            if (!pump(10))
                return false;
        }
        return unmapped.contains(w);
    }

    // Damage reports that reach the screen: count and pixels.
    void resetDamageCount()
    {
        damageReports = 0;
        damagePixels = 0;
    }

    QString name;
    QSize screenSize;
    Child server;
    long long damageReports = 0;
    double damagePixels = 0;

private:
    xcb_atom_t atom(const char *atomName)
    {
        xcb_intern_atom_reply_t *r =
            xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 0, uint16_t(std::strlen(atomName)), atomName), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(r);
        return a;
    }

    // DAMAGE through the generic request path of libxcb (its extension
    // library is not needed for two requests). Minor opcodes: 0 QueryVersion,
    // 1 Create. Report level 0: raw rectangles, one event per drawing.
    bool startDamage()
    {
        const xcb_query_extension_reply_t *ext = xcb_get_extension_data(conn, &damageExtension);
        if (!ext || !ext->present)
            return false;
        damageEvent = ext->first_event;

        struct
        {
            uint8_t major, minor;
            uint16_t length;
            uint32_t clientMajor, clientMinor;
        } version{0, 0, 0, 1, 1};
        unsigned seq = sendDamage(0, &version, sizeof version, false);
        xcb_generic_error_t *err = nullptr;
        void *reply = xcb_wait_for_reply(conn, seq, &err);
        std::free(reply);
        if (err) {
            std::free(err);
            return false;
        }

        struct
        {
            uint8_t major, minor;
            uint16_t length;
            uint32_t damage, drawable;
            uint8_t level, pad[3];
        } create{0, 0, 0, xcb_generate_id(conn), root, 0, {0, 0, 0}};
        seq = sendDamage(1, &create, sizeof create, true);
        err = xcb_request_check(conn, xcb_void_cookie_t{seq});
        if (err) {
            std::free(err);
            return false;
        }
        return true;
    }

    unsigned sendDamage(uint8_t minor, void *request, size_t size, bool isVoid)
    {
        iovec parts[4];
        parts[2].iov_base = request;
        parts[2].iov_len = size;
        parts[3].iov_base = nullptr;
        parts[3].iov_len = -size & 3;
        const xcb_protocol_request_t req{2, &damageExtension, minor, uint8_t(isVoid ? 1 : 0)};
        return xcb_send_request(conn, XCB_REQUEST_CHECKED, parts + 2, &req);
    }

    QByteArray property(xcb_window_t w, xcb_atom_t prop, xcb_atom_t type)
    {
        xcb_get_property_reply_t *r =
            xcb_get_property_reply(conn, xcb_get_property(conn, 0, w, prop, type, 0, 1024), nullptr);
        QByteArray out;
        if (r) {
            const int bytes = xcb_get_property_value_length(r);
            out = QByteArray(static_cast<const char *>(xcb_get_property_value(r)), bytes);
            std::free(r);
        }
        return out;
    }

    // Waits up to `timeoutMs` for the connection to become readable, then
    // handles every event there is. False when the connection is broken.
    bool pump(int timeoutMs)
    {
        if (xcb_connection_has_error(conn))
            return false;
        xcb_flush(conn);
        pollfd p{xcb_get_file_descriptor(conn), POLLIN, 0};
        ::poll(&p, 1, timeoutMs);
        while (xcb_generic_event_t *e = xcb_poll_for_event(conn)) {
            handle(e, nowMs());
            std::free(e);
        }
        xcb_flush(conn);
        return !xcb_connection_has_error(conn);
    }

    void handle(xcb_generic_event_t *e, double at)
    {
        const uint8_t type = e->response_type & 0x7f;
        if (type == damageEvent) {
            // response_type, level, sequence, drawable, damage, timestamp,
            // then the damaged area as x, y, width, height.
            const auto *bytes = reinterpret_cast<const uint8_t *>(e);
            int16_t x, y;
            uint16_t w, h;
            std::memcpy(&x, bytes + 16, 2);
            std::memcpy(&y, bytes + 18, 2);
            std::memcpy(&w, bytes + 20, 2);
            std::memcpy(&h, bytes + 22, 2);
            ++damageReports;
            damagePixels += double(w) * h;
            if (current.mappedAt >= 0 && current.frameAt < 0) {
                painted += QRect(x, y, w, h) & current.geometry;
                if (QRegion(current.geometry).subtracted(painted).isEmpty())
                    current.frameAt = at;
            }
            return;
        }
        switch (type) {
        case XCB_MAP_REQUEST: {
            const auto *m = reinterpret_cast<const xcb_map_request_event_t *>(e);
            const QByteArray state = property(m->window, atomState, XCB_ATOM_ATOM);
            const auto *atoms = reinterpret_cast<const xcb_atom_t *>(state.constData());
            bool vert = false, horz = false, full = false;
            for (int i = 0; i < state.size() / int(sizeof(xcb_atom_t)); ++i) {
                vert |= atoms[i] == atomMaxV;
                horz |= atoms[i] == atomMaxH;
                full |= atoms[i] == atomFull;
            }
            if ((vert && horz) || full) {
                const uint32_t values[] = {0, 0, uint32_t(screenSize.width()), uint32_t(screenSize.height()), 0};
                xcb_configure_window(conn, m->window,
                                     XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                         XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_BORDER_WIDTH,
                                     values);
            }
            xcb_map_window(conn, m->window);
            xcb_flush(conn);
            break;
        }
        case XCB_CONFIGURE_REQUEST: {
            const auto *c = reinterpret_cast<const xcb_configure_request_event_t *>(e);
            uint32_t values[7];
            int n = 0;
            if (c->value_mask & XCB_CONFIG_WINDOW_X)
                values[n++] = uint32_t(int32_t(c->x));
            if (c->value_mask & XCB_CONFIG_WINDOW_Y)
                values[n++] = uint32_t(int32_t(c->y));
            if (c->value_mask & XCB_CONFIG_WINDOW_WIDTH)
                values[n++] = c->width;
            if (c->value_mask & XCB_CONFIG_WINDOW_HEIGHT)
                values[n++] = c->height;
            if (c->value_mask & XCB_CONFIG_WINDOW_BORDER_WIDTH)
                values[n++] = c->border_width;
            if (c->value_mask & XCB_CONFIG_WINDOW_SIBLING)
                values[n++] = c->sibling;
            if (c->value_mask & XCB_CONFIG_WINDOW_STACK_MODE)
                values[n++] = c->stack_mode;
            xcb_configure_window(conn, c->window, c->value_mask, values);
            xcb_flush(conn);
            break;
        }
        case XCB_CLIENT_MESSAGE: {
            const auto *c = reinterpret_cast<const xcb_client_message_event_t *>(e);
            if (c->type == atomChangeState && c->format == 32 && c->data.data32[0] == 3)
                iconify(c->window);
            break;
        }
        case XCB_UNMAP_NOTIFY:
            unmapped.insert(reinterpret_cast<const xcb_unmap_notify_event_t *>(e)->window);
            break;
        case XCB_MAP_NOTIFY: {
            const auto *m = reinterpret_cast<const xcb_map_notify_event_t *>(e);
            if (m->override_redirect || watchPid <= 0 || current.mappedAt >= 0)
                break;
            const QByteArray pidProp = property(m->window, atomPid, XCB_ATOM_CARDINAL);
            uint32_t owner = 0;
            if (pidProp.size() >= 4)
                std::memcpy(&owner, pidProp.constData(), 4);
            if (owner != uint32_t(watchPid))
                break;
            current.mappedAt = at;
            current.window = m->window;
            xcb_get_geometry_reply_t *g = xcb_get_geometry_reply(conn, xcb_get_geometry(conn, m->window), nullptr);
            if (g) {
                current.geometry = QRect(g->x, g->y, g->width, g->height);
                std::free(g);
            }
            current.title = QString::fromUtf8(property(m->window, atomName, XCB_ATOM_ANY));
            break;
        }
        default:
            break;
        }
    }

    xcb_connection_t *conn = nullptr;
    xcb_window_t root = 0;
    xcb_extension_t damageExtension{"DAMAGE", 0};
    uint8_t damageEvent = 0;
    xcb_atom_t atomState = 0, atomMaxV = 0, atomMaxH = 0, atomFull = 0, atomPid = 0, atomName = 0;
    xcb_atom_t atomProtocols = 0, atomDelete = 0, atomChangeState = 0, atomWmState = 0;
    QSet<xcb_window_t> unmapped;
    pid_t watchPid = -1;
    Shown current;
    QRegion painted;
};

// ---------------------------------------------------------------------------
// What both benchmarks set up: a copy of the launcher, a private temporary
// folder (the single-instance guard's key file lives there, so the copy
// cannot clash with another running launcher), a private display, and the
// environment the measured programs get.

class Stage
{
public:
    bool prepare(const QString &launcher, const QString &screen, QString *error)
    {
        if (!work.isValid()) {
            *error = QStringLiteral("no temporary folder");
            return false;
        }
        appDir = work.filePath(QStringLiteral("app"));
        tmpDir = work.filePath(QStringLiteral("tmp"));
        const QString runtimeDir = work.filePath(QStringLiteral("runtime"));
        QDir().mkpath(tmpDir);
        QDir().mkpath(runtimeDir);
        QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (!copyLauncher(launcher, appDir, error))
            return false;
        launcherCopy = appDir + QLatin1Char('/') + QFileInfo(launcher).fileName();
        if (!display.start(screen, work.filePath(QStringLiteral("xvfb.log")), error))
            return false;
        env = environmentWith({QStringLiteral("DISPLAY=") + display.name, QStringLiteral("QT_QPA_PLATFORM=xcb"),
                               QStringLiteral("TMPDIR=") + tmpDir, QStringLiteral("XDG_RUNTIME_DIR=") + runtimeDir});
        return true;
    }

    // Starts the launcher copy, or `baseline` with `baselineArgs`.
    bool launch(Child &child, bool isLauncher, const QString &baseline, const QStringList &baselineArgs)
    {
        const QString log = work.filePath(isLauncher ? QStringLiteral("launcher.log") : QStringLiteral("baseline.log"));
        return isLauncher ? child.start(launcherCopy, {}, env, log) : child.start(baseline, baselineArgs, env, log);
    }

    // Ends a measured program and lets the display settle.
    void finish(Child &child, bool isLauncher)
    {
        child.stop();
        if (isLauncher)
            dropLauncherGuard(tmpDir);
        display.serve(100);
    }

    // Keeps the folder (and the programs' logs) for a look after a failure.
    QString keep()
    {
        work.setAutoRemove(false);
        return work.path();
    }

    ~Stage()
    {
        if (!tmpDir.isEmpty())
            dropLauncherGuard(tmpDir);
    }

    QTemporaryDir work;
    QString appDir, tmpDir, launcherCopy;
    QStringList env;
    PrivateDisplay display;
};

} // namespace bench

// The baseline both benchmarks compare the launcher with: an empty window,
// shown maximised, in a minimal Qt Widgets program.
inline int baselineWindow(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("baseline"));
    window.showMaximized();
    return app.exec();
}
