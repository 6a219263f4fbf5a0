#pragma once

#include <functional>

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>

class QLocalSocket;
class QObject;
class QProcess;
class QTextCodec;

// What differs between the operating systems, behind one interface. Each
// platform has its own file, and the build compiles only that one:
//   platform_unix.cpp     process groups, the watchdog, the guard's segment
//   platform_linux.cpp    Linux additions: a child dies with the launcher
//   platform_unix_other.cpp  other Unix systems: no such addition
//   platform_win.cpp      job objects, the polite stop, the DLL search (Windows)
namespace Platform {

// What a server's tree uses now: CPU time since it started (of the processes
// still running on Linux, of all that ran in it on Windows), resident memory.
// -1 where the system does not tell.
struct TreeUsage
{
    qint64 cpuMs = -1;
    qint64 residentBytes = -1;
    int processes = 0;
};

// A server program and everything it starts, held together so that "关闭",
// quitting and the launcher's own death end all of it: on Unix the
// program's process group, which a watchdog process kills should the
// launcher die; on Windows a job object that dies with its last handle.
class ProcessTree
{
public:
    ProcessTree();
    ~ProcessTree();
    ProcessTree(const ProcessTree &) = delete;
    ProcessTree &operator=(const ProcessTree &) = delete;

    // Before the program is started: what has to be arranged for it.
    void prepare(QProcess *process, qint64 launcherPid);
    // The program runs under this process id: hold its tree from now on.
    void adopt(qint64 pid);
    // The program ended by itself: what it left behind is not ours any more.
    void release();
    // Asks the program's whole tree to end (SIGTERM to the group; on Windows
    // Ctrl+C to the program's console and WM_CLOSE to the tree's windows).
    void terminate(qint64 pid);
    // Kills the program's whole tree now.
    void kill(qint64 pid);
    // Whether anything of the held tree still runs (the program itself may
    // have ended: a start script whose server went on in the background).
    bool alive() const;
    // Cheap enough to ask once a second: the program and its descendants.
    TreeUsage usage() const;

private:
    struct Data;
    std::unique_ptr<Data> d;
};

// Runs in a new child between fork and exec (Unix; nothing elsewhere): the
// child leads its own process group and, where the system can, dies with the
// launcher.
void setUpChild(qint64 launcherPid);
// Linux: the parent-death signal. Called by setUpChild.
void bindChildToLauncher(qint64 launcherPid);
// Whether a process group has a member that is not a zombie (Unix).
bool groupAlive(qint64 group);
// The usage of a process and its descendants (Unix; Linux reads /proc,
// other systems do not tell).
TreeUsage processUsage(qint64 pid);
// The process id of the watchdog that ends the held trees should the
// launcher die (Unix; 0 elsewhere or before the first tree).
qint64 watchdogPid();

// The single-instance guard's segment outlives a holder that was killed
// (System V); removes it when nobody is attached. Nothing to do on Windows.
void dropStaleGuard(const QString &key);

// Unix: the single-instance guard's System V objects live in the shared
// temp folder, where another local user can make them first. A lock file
// only the launcher's own user can create (in the settings folder when it
// may write there, else its private runtime folder) decides instead, held
// until the process ends; a live holder of the settings folder's lock (one
// who may write there) also counts for a user who may not. Windows: NotUsed (its guard is per session).
enum class InstanceLock { Acquired, HeldElsewhere, NotUsed };
InstanceLock lockSingleInstance(const QString &settingsDir);
// The shared memory guard's system-wide name, or empty where Qt's name for
// key will do. Windows: the service runs in a session of its own, and a
// window in the operator's session must still find it (every launcher is
// elevated there, so it may make a global object).
QString guardNativeKey(const QString &key);

// Before the application object: DLLs and Qt plug-ins only from the
// launcher's own folder and the system's (Windows; nothing elsewhere).
void restrictLibrarySearch();

// Ends the process at once with this code, without static destructors or
// library clean-up: for a quit that must not wait on a thread it could not
// stop (a database that does not answer). Everything worth keeping must be
// written before.
[[noreturn]] void endProcessNow(int code);

// Hands memory the process has freed back to the system where the C library
// keeps it otherwise (glibc keeps freed heap pages for reuse): called once
// output pauses after the console dropped text or showed a burst, so that
// the launcher's size at rest is that of what it still shows.
void releaseFreedMemory();
// Threads allocate from the process's one heap instead of heaps of their own
// (glibc gives each thread one): what the output threads free is then handed
// back by releaseFreedMemory() like the rest. Nothing to do elsewhere.
void shareOneHeap();

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
// The codec of the system's 8-bit code page (Qt 5): the ANSI code page on
// Windows, the locale's encoding elsewhere.
QTextCodec *systemCodec();
#endif

// Calls stop on the main thread when the system asks the process to end:
// SIGTERM, SIGINT or SIGHUP on Unix; Ctrl+C, Ctrl+Break, a closed console,
// log-off or shut-down on Windows. Needs a running event loop; call once.
void onStopRequest(std::function<void()> stop);

// The system's service manager (Windows: the service control manager; on
// Unix systemd runs the process as it is and this returns -1 at once):
// when it started this process as the service called name, body runs as that
// service's life on this thread and its code is returned; otherwise -1 and
// body is not called.
int runAsSystemService(const QString &name, const std::function<int()> &body);
// Registers program --service as a service started at boot, and removes it
// (stopping it first). Administrator rights on Windows; elsewhere false, the
// service being the package's systemd unit.
bool installSystemService(const QString &name, const QString &displayName, const QString &program, QString *error);
bool removeSystemService(const QString &name, QString *error);

// The operator's log-in starts program (the launcher's window): a desktop
// autostart entry on Linux and other Unix desktops, the user's Run key on
// Windows. Both false when it could not be read or written.
bool startsAtLogin(const QString &program);
bool setStartAtLogin(const QString &program, bool on);

// The service's control connection, which an attached window uses. Only the
// service's own user may connect (root on Unix; LocalSystem and elevated
// Administrators on Windows): a socket in a private folder, a named pipe
// with an access list; a peer of any other user is closed at once.
// The name to give QLocalSocket::connectToServer.
QString controlServerName();
// Listens on controlServerName(); accepted gets each allowed connection,
// made a child of the returned object. Null, with error, when it cannot.
std::unique_ptr<QObject> listenForControl(std::function<void(QLocalSocket *)> accepted, QString *error);

// Line end of the text files the launcher writes for the operator.
QByteArray textLineEnd();

} // namespace Platform
