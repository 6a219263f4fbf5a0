// Built by the Windows build only; nothing on Linux compiles this file.
#include "platform/platform.h"
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif
#include "setting/platformdefaults.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QWinEventNotifier>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QProcess>
#include <QStringList>

#include <windows.h>
#include <sddl.h>
#include <tlhelp32.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace Platform {

// Each server gets a job object of its own. KILL_ON_JOB_CLOSE ends the whole
// tree when the launcher's handle closes, also when the launcher dies;
// TerminateJobObject ends it on "关闭". The program is created suspended and
// only runs once it is in the job, so nothing it starts can escape it.
struct ProcessTree::Data
{
    HANDLE job = nullptr;
    qint64 pid = 0;
};

namespace {

// Ctrl+C sent to a server's console reaches every process attached to it,
// the launcher too while it is attached: it must not end the launcher. A
// handler routine rather than SetConsoleCtrlHandler(nullptr, TRUE), whose
// "ignore Ctrl+C" flag every server started later would inherit.
BOOL WINAPI ignoreCtrlC(DWORD event)
{
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

// What console programs take as "please end" (a Java runtime runs its
// shutdown hooks; Ctrl+Break would only make it print a thread dump), sent
// to every console of the server's tree once: a start script's "start"
// gives its server a console of its own, and the script may be gone.
void sendCtrlC(const std::vector<DWORD> &pids)
{
    static const bool handlerSet = ::SetConsoleCtrlHandler(ignoreCtrlC, TRUE) != 0;
    if (!handlerSet || pids.empty())
        return;
    // A console is joined only when the process has none; a launcher run
    // from a console (the tests) gives up its own for the moment. Asking
    // FreeConsole is the one test of "has a console" that Wine answers as
    // Windows does.
    const bool hadConsole = ::FreeConsole() != 0;
    std::vector<DWORD> reached;
    for (DWORD pid : pids) {
        if (std::find(reached.begin(), reached.end(), pid) != reached.end() || !::AttachConsole(pid))
            continue;
        // Everyone on this console hears this one event.
        DWORD attached[256] = {};
        const DWORD n = ::GetConsoleProcessList(attached, DWORD(sizeof attached / sizeof *attached));
        reached.insert(reached.end(), attached, attached + std::min<DWORD>(n, sizeof attached / sizeof *attached));
        reached.push_back(pid);
        ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        ::FreeConsole();
    }
    if (hadConsole)
        ::AttachConsole(ATTACH_PARENT_PROCESS);
}

std::vector<DWORD> jobProcesses(HANDLE job)
{
    std::vector<DWORD> pids;
    if (!job)
        return pids;
    // Room for the ids comes after the fixed part of the structure.
    std::vector<char> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + 1024 * sizeof(ULONG_PTR));
    auto *list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST *>(buffer.data());
    if (::QueryInformationJobObject(job, JobObjectBasicProcessIdList, list, static_cast<DWORD>(buffer.size()), nullptr)
        || ::GetLastError() == ERROR_MORE_DATA) {
        for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i)
            pids.push_back(static_cast<DWORD>(list->ProcessIdList[i]));
    }
    return pids;
}

// Programs with windows of their own (a GUI server, a tray tool) take
// WM_CLOSE as the polite request.
void closeWindows(const std::vector<DWORD> &pids)
{
    struct Targets { const std::vector<DWORD> *pids; };
    Targets targets{&pids};
    ::EnumWindows([](HWND window, LPARAM param) -> BOOL {
        const auto *t = reinterpret_cast<const Targets *>(param);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(window, &pid);
        for (DWORD wanted : *t->pids) {
            if (pid == wanted) {
                ::PostMessageW(window, WM_CLOSE, 0, 0);
                break;
            }
        }
        return TRUE;
    }, reinterpret_cast<LPARAM>(&targets));
}

// Lets a program created suspended run.
void resume(DWORD pid)
{
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != pid)
            continue;
        if (HANDLE thread = ::OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID)) {
            ::ResumeThread(thread);
            ::CloseHandle(thread);
        }
    }
    ::CloseHandle(snapshot);
}

HANDLE newKillOnCloseJob()
{
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    if (job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION info = {};
        info.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &info, sizeof info);
    }
    return job;
}

} // namespace

ProcessTree::ProcessTree()
    : d(new Data)
{
}

ProcessTree::~ProcessTree()
{
    if (d->job)
        ::CloseHandle(d->job);   // kills what is still in the job
}

void ProcessTree::prepare(QProcess *process, qint64 launcherPid)
{
    Q_UNUSED(launcherPid)
    // Suspended until adopt() has put it into its job. A (hidden) console of
    // its own, also when the launcher has one, so that the polite stop's
    // Ctrl+C reaches this server alone. No CREATE_NEW_PROCESS_GROUP: it
    // would make the server ignore Ctrl+C.
    process->setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *args) {
        args->flags |= CREATE_SUSPENDED | CREATE_NO_WINDOW;
    });
}

void ProcessTree::adopt(qint64 pid)
{
    if (d->job && d->pid == pid)
        return;
    release();
    if (pid <= 0)
        return;
    d->pid = pid;
    d->job = newKillOnCloseJob();
    if (d->job) {
        if (HANDLE h = ::OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid))) {
            ::AssignProcessToJobObject(d->job, h);
            ::CloseHandle(h);
        }
    }
    // Runs also when no job could be made: a server held loosely beats one
    // that never starts.
    resume(static_cast<DWORD>(pid));
}

void ProcessTree::release()
{
    if (!d->job)
        return;
    // What the program left behind when it ended by itself (a service it
    // started, say) is not ours to kill: let go of the job without ending it.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION info = {};
    ::SetInformationJobObject(d->job, JobObjectExtendedLimitInformation, &info, sizeof info);
    ::CloseHandle(d->job);
    d->job = nullptr;
    d->pid = 0;
}

void ProcessTree::terminate(qint64 pid)
{
    // What Windows service wrappers do: Ctrl+C on the server's console, and
    // WM_CLOSE to the windows of everything in its tree. A program that
    // hears neither is killed when the grace period ends.
    std::vector<DWORD> pids;
    if (pid > 0)
        pids.push_back(static_cast<DWORD>(pid));
    for (DWORD member : jobProcesses(d->job)) {
        if (member != DWORD(pid))
            pids.push_back(member);
    }
    sendCtrlC(pids);
    closeWindows(pids);
}

TreeUsage ProcessTree::usage() const
{
    TreeUsage total;
    if (!d->job)
        return total;
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    if (::QueryInformationJobObject(d->job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting, nullptr))
        total.cpuMs = (accounting.TotalUserTime.QuadPart + accounting.TotalKernelTime.QuadPart) / 10000;
    // The list's header and room for the ids of a big tree.
    std::vector<char> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + 256 * sizeof(ULONG_PTR));
    auto *list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST *>(buffer.data());
    if (!::QueryInformationJobObject(d->job, JobObjectBasicProcessIdList, list, DWORD(buffer.size()), nullptr)
        && ::GetLastError() != ERROR_MORE_DATA)
        return total;
    for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i) {
        HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(list->ProcessIdList[i]));
        if (!process)
            continue;
        PROCESS_MEMORY_COUNTERS counters = {};
        if (::K32GetProcessMemoryInfo(process, &counters, sizeof counters)) {
            total.residentBytes = qMax<qint64>(total.residentBytes, 0) + qint64(counters.WorkingSetSize);
            ++total.processes;
        }
        ::CloseHandle(process);
    }
    return total;
}

bool ProcessTree::alive() const
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
    return d->job
        && ::QueryInformationJobObject(d->job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr)
        && info.ActiveProcesses > 0;
}

void ProcessTree::kill(qint64 pid)
{
    Q_UNUSED(pid)
    // The code QProcess::kill() itself ends a process with: QProcess reports
    // it as a crash, as it does a killed process on Linux.
    if (d->job)
        ::TerminateJobObject(d->job, 0xf291);
}

void setUpChild(qint64 launcherPid)
{
    Q_UNUSED(launcherPid)
}

void bindChildToLauncher(qint64 launcherPid)
{
    Q_UNUSED(launcherPid)
}

bool groupAlive(qint64 group)
{
    Q_UNUSED(group)
    return false;
}

qint64 watchdogPid()
{
    return 0;
}

void dropStaleGuard(const QString &key)
{
    // A Windows guard disappears with its last holder.
    Q_UNUSED(key)
}

InstanceLock lockSingleInstance(const QString &settingsDir)
{
    Q_UNUSED(settingsDir)
    return InstanceLock::NotUsed;
}

void restrictLibrarySearch()
{
    // An elevated launcher must not load a DLL planted in the current folder
    // or on PATH: only its own folder and System32. (Windows 8 and later;
    // Windows 7 has it with KB2533623.)
    using SetDefault = BOOL(WINAPI *)(DWORD);
    if (HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
        if (auto set = reinterpret_cast<SetDefault>(
                reinterpret_cast<void *>(::GetProcAddress(kernel, "SetDefaultDllDirectories"))))
            set(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    ::SetDllDirectoryW(L"");
    // Qt's plug-ins (the MySQL driver among them) only from the
    // installation, whatever the environment names.
    wchar_t path[MAX_PATH * 4] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, path, DWORD(sizeof path / sizeof *path));
    if (n == 0 || n >= sizeof path / sizeof *path)
        return;
    const QString dir = QFileInfo(QString::fromWCharArray(path, int(n))).absolutePath();
    qunsetenv("QT_PLUGIN_PATH");
    qunsetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
    QCoreApplication::setLibraryPaths({dir + QStringLiteral("/plugins")});
}

void endProcessNow(int code)
{
    std::fflush(nullptr);
    // Not ExitProcess: its DLL clean-up could wait on a lock the stopped
    // thread held.
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
    ::ExitProcess(static_cast<UINT>(code));   // not reached
}

QByteArray textLineEnd()
{
    return QByteArrayLiteral("\r\n");
}

void releaseFreedMemory()
{
}

void shareOneHeap()
{
}

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
QTextCodec *systemCodec()
{
    return QTextCodec::codecForName("System");
}
#endif

namespace {

std::function<void()> *stopRequested = nullptr;
// A stop the service control manager asked for before there was anybody to
// hear it.
std::atomic<bool> stopPending{false};

void requestStop()
{
    if (stopRequested && QCoreApplication::instance())
        QMetaObject::invokeMethod(QCoreApplication::instance(), *stopRequested, Qt::QueuedConnection);
    else
        stopPending = true;
}

// Runs on a thread the system makes for it. Ctrl+C and Ctrl+Break are left
// to the other handlers: the launcher sends Ctrl+C to its own servers'
// consoles, and would hear it too. A log-off is not a reason to stop: the
// platform outlives the desktop session.
BOOL WINAPI stopOnClose(DWORD event)
{
    if (event != CTRL_CLOSE_EVENT && event != CTRL_SHUTDOWN_EVENT)
        return FALSE;
    requestStop();
    // The process ends when this returns: give the stop the time the
    // system allows (about 5 s for a closed console, 20 s at shut-down).
    ::Sleep(event == CTRL_CLOSE_EVENT ? 4500 : 19000);
    return TRUE;
}

// The service control manager's side: its dispatcher thread, the status
// reported to it, and the two events between it and the launcher's thread.
std::wstring serviceName;
SERVICE_STATUS_HANDLE statusHandle = nullptr;
HANDLE serviceRunning = nullptr;   // set once the dispatcher has answered
HANDLE serviceBodyDone = nullptr;
std::atomic<DWORD> dispatcherError{0};
std::atomic<DWORD> serviceExitCode{0};

void reportStatus(DWORD state, DWORD waitHintMs = 0)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = serviceExitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = serviceExitCode;
    status.dwWaitHint = waitHintMs;
    static DWORD checkPoint = 0;
    status.dwCheckPoint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : ++checkPoint;
    ::SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI serviceControl(DWORD control, DWORD, LPVOID, LPVOID)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        // Each server has its grace period; all stop together.
        reportStatus(SERVICE_STOP_PENDING, 630000);
        requestStop();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI serviceMain(DWORD, LPWSTR *)
{
    statusHandle = ::RegisterServiceCtrlHandlerExW(serviceName.c_str(), serviceControl, nullptr);
    if (!statusHandle) {
        dispatcherError = ::GetLastError();
        ::SetEvent(serviceRunning);
        return;
    }
    reportStatus(SERVICE_RUNNING);
    ::SetEvent(serviceRunning);
    ::WaitForSingleObject(serviceBodyDone, INFINITE);
    reportStatus(SERVICE_STOPPED);
}

class ServiceManager
{
public:
    explicit ServiceManager(DWORD access) : handle(::OpenSCManagerW(nullptr, nullptr, access)) {}
    ~ServiceManager()
    {
        if (handle)
            ::CloseServiceHandle(handle);
    }
    SC_HANDLE handle;
};

QString lastErrorText()
{
    return QStringLiteral("%1 (%2)").arg(qt_error_string(int(::GetLastError()))).arg(::GetLastError());
}

} // namespace

void onStopRequest(std::function<void()> stop)
{
    stopRequested = new std::function<void()>(std::move(stop));
    ::SetConsoleCtrlHandler(stopOnClose, TRUE);
    if (stopPending.exchange(false))
        requestStop();
}

int runAsSystemService(const QString &name, const std::function<int()> &body)
{
    serviceName = name.toStdWString();
    serviceRunning = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    serviceBodyDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // The dispatcher holds its thread for the service's whole life; the
    // launcher's own thread runs the event loop.
    std::thread dispatcher([] {
        SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(serviceName.c_str()), serviceMain}, {nullptr, nullptr}};
        if (!::StartServiceCtrlDispatcherW(table)) {
            dispatcherError = ::GetLastError();
            ::SetEvent(serviceRunning);
        }
    });
    ::WaitForSingleObject(serviceRunning, INFINITE);
    if (dispatcherError != 0) {
        // Not started by the service control manager: a console start.
        dispatcher.join();
        return -1;
    }
    const int code = body();
    serviceExitCode = DWORD(code);
    ::SetEvent(serviceBodyDone);
    dispatcher.join();
    return code;
}

bool installSystemService(const QString &name, const QString &displayName, const QString &program, QString *error)
{
    const ServiceManager manager(SC_MANAGER_CREATE_SERVICE);
    if (!manager.handle) {
        *error = lastErrorText();
        return false;
    }
    const QString command = QLatin1Char('"') + QDir::toNativeSeparators(program) + QStringLiteral("\" --service");
    // LocalSystem, started at boot: the platform comes back with nobody
    // logged in.
    SC_HANDLE service = ::CreateServiceW(manager.handle, reinterpret_cast<LPCWSTR>(name.utf16()),
                                         reinterpret_cast<LPCWSTR>(displayName.utf16()), SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                         reinterpret_cast<LPCWSTR>(command.utf16()), nullptr, nullptr, nullptr,
                                         nullptr, nullptr);
    if (!service) {
        *error = lastErrorText();
        return false;
    }
    ::CloseServiceHandle(service);
    return true;
}

bool removeSystemService(const QString &name, QString *error)
{
    const ServiceManager manager(SC_MANAGER_CONNECT);
    if (!manager.handle) {
        *error = lastErrorText();
        return false;
    }
    SC_HANDLE service = ::OpenServiceW(manager.handle, reinterpret_cast<LPCWSTR>(name.utf16()),
                                       SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (!service) {
        *error = lastErrorText();
        return false;
    }
    // A running service stops its servers politely first.
    SERVICE_STATUS status = {};
    if (::ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        for (int i = 0; i < 6300 && ::QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED; ++i)
            ::Sleep(100);
    }
    const bool deleted = ::DeleteService(service) != 0;
    if (!deleted)
        *error = lastErrorText();
    ::CloseServiceHandle(service);
    return deleted;
}

namespace {

const QString kRunKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString kRunValue = QStringLiteral("Tessarin");

QString runCommand(const QString &program)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(program) + QLatin1Char('"');
}

} // namespace

bool startsAtLogin(const QString &program)
{
    const QSettings run(kRunKey, QSettings::NativeFormat);
    return run.value(kRunValue).toString().compare(runCommand(program), Qt::CaseInsensitive) == 0;
}

bool setStartAtLogin(const QString &program, bool on)
{
    QSettings run(kRunKey, QSettings::NativeFormat);
    if (on)
        run.setValue(kRunValue, runCommand(program));
    else
        run.remove(kRunValue);
    run.sync();
    return run.status() == QSettings::NoError;
}

QString guardNativeKey(const QString &key)
{
    return QStringLiteral("Global\\") + key;
}

QString controlServerName()
{
    return QStringLiteral("TessarinControl");
}

namespace {

// The token's user, as a SID string ("S-1-5-18" for LocalSystem).
QString tokenUser(HANDLE token)
{
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<char> buffer(size);
    LPWSTR text = nullptr;
    if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)
        || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, &text))
        return QString();
    const QString sid = QString::fromWCharArray(text);
    LocalFree(text);
    return sid;
}

// The client is the service's own user, or an Administrator whose token
// holds that group enabled (an elevated one: without elevation the group is
// for denying only).
bool clientAllowed(HANDLE pipe, const QString &ownUser)
{
    ULONG pid = 0;
    if (!GetNamedPipeClientProcessId(pipe, &pid))
        return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return false;
    HANDLE token = nullptr;
    const bool opened = OpenProcessToken(process, TOKEN_QUERY | TOKEN_DUPLICATE, &token);
    CloseHandle(process);
    if (!opened)
        return false;
    bool allowed = !ownUser.isEmpty() && tokenUser(token) == ownUser;
    HANDLE identity = nullptr;
    if (!allowed && DuplicateToken(token, SecurityIdentification, &identity)) {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof sid;
        BOOL member = FALSE;
        if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize)
            && CheckTokenMembership(identity, sid, &member))
            allowed = member;
        CloseHandle(identity);
    }
    CloseHandle(token);
    return allowed;
}

// One pipe instance at a time waits for a client; a connected one is handed
// to a QLocalSocket and the next instance waits. The access list lets in
// LocalSystem, Administrators and the service's own user; the client's
// token is checked again once it is connected.
class ControlPipe : public QObject
{
public:
    explicit ControlPipe(std::function<void(QLocalSocket *)> accepted)
        : accepted(std::move(accepted))
    {
        HANDLE token = nullptr;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            ownUser = tokenUser(token);
            CloseHandle(token);
        }
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        notifier.setHandle(overlapped.hEvent);
        connect(&notifier, &QWinEventNotifier::activated, this, [this] {
            DWORD ignored = 0;
            const bool connected = GetOverlappedResult(pipe, &overlapped, &ignored, FALSE);
            notifier.setEnabled(false);
            handOver(connected);
            QString error;
            waitForClient(false, &error);
        });
    }

    ~ControlPipe() override
    {
        notifier.setEnabled(false);
        if (pipe != INVALID_HANDLE_VALUE) {
            CancelIo(pipe);
            CloseHandle(pipe);
        }
        CloseHandle(overlapped.hEvent);
    }

    bool waitForClient(bool first, QString *error)
    {
        const QString access = QStringLiteral("D:P(A;;GA;;;SY)(A;;GA;;;BA)") +
            (ownUser.isEmpty() ? QString() : QStringLiteral("(A;;GA;;;%1)").arg(ownUser));
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(reinterpret_cast<LPCWSTR>(access.utf16()),
                                                                  SDDL_REVISION_1, &descriptor, nullptr)) {
            *error = QStringLiteral("访问列表无效（%1）").arg(GetLastError());
            return false;
        }
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
        const QString name = QStringLiteral("\\\\.\\pipe\\") + controlServerName();
        // The first instance must be new: a pipe of that name made by
        // anyone else first is not the service's.
        pipe = CreateNamedPipeW(reinterpret_cast<LPCWSTR>(name.utf16()),
                                PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                                PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                PIPE_UNLIMITED_INSTANCES, 64 * 1024, 64 * 1024, 0, &attributes);
        LocalFree(descriptor);
        if (pipe == INVALID_HANDLE_VALUE) {
            *error = QStringLiteral("无法创建管道 %1（%2）").arg(name).arg(GetLastError());
            return false;
        }
        const HANDLE event = overlapped.hEvent;
        overlapped = {};
        overlapped.hEvent = event;
        ResetEvent(event);
        if (ConnectNamedPipe(pipe, &overlapped)) {
            handOver(true);
            return waitForClient(false, error);
        }
        switch (GetLastError()) {
        case ERROR_PIPE_CONNECTED:
            handOver(true);
            return waitForClient(false, error);
        case ERROR_IO_PENDING:
            notifier.setEnabled(true);
            return true;
        default:
            *error = QStringLiteral("管道无法等待连接（%1）").arg(GetLastError());
            CloseHandle(pipe);
            pipe = INVALID_HANDLE_VALUE;
            return false;
        }
    }

private:
    void handOver(bool connected)
    {
        HANDLE client = pipe;
        pipe = INVALID_HANDLE_VALUE;
        if (!connected || !clientAllowed(client, ownUser)) {
            DisconnectNamedPipe(client);
            CloseHandle(client);
            return;
        }
        auto *socket = new QLocalSocket(this);
        socket->setSocketDescriptor(qintptr(client));
        accepted(socket);
    }

    std::function<void(QLocalSocket *)> accepted;
    QString ownUser;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped = {};
    QWinEventNotifier notifier;
};

} // namespace

std::unique_ptr<QObject> listenForControl(std::function<void(QLocalSocket *)> accepted, QString *error)
{
    auto pipe = std::make_unique<ControlPipe>(std::move(accepted));
    if (!pipe->waitForClient(true, error))
        return nullptr;
    return pipe;
}

} // namespace Platform

// Settings defaults (see setting/platformdefaults.h).
namespace PlatformDefaults {

QString mediaServerProgram() { return QStringLiteral("./MediaServer.exe"); }
QString sipServerProgram() { return QStringLiteral("java"); }
QString sipServerParam() { return QStringLiteral("-jar wvp-pro-2.3.2-09220952.jar"); }
QString mysqlCmdPath() { return QStringLiteral("C:/Windows/System32/conhost.exe"); }
QString mysqlWorkDir() { return QStringLiteral("D:/mysql-8.0.20-winx64/bin"); }
QString mysqlCmdStr() { return QStringLiteral("net start mysql"); }
QString redisPath() { return QStringLiteral("D:/Redis3.2.100/redis-server.exe"); }
QString redisWorkDir() { return QStringLiteral("D:/Redis3.2.100"); }
QString redisParameter() { return QStringLiteral("redis.windows.conf"); }

bool isProgramFile(const QString &filePath)
{
    const QFileInfo info(filePath);
    return info.isFile() && info.completeSuffix() == QLatin1String("exe");
}

} // namespace PlatformDefaults
