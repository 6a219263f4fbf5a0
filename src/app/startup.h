#pragma once

#include <QString>

#include <memory>

class QSharedMemory;

// The whole start-up of the launcher: single-instance guard, settings, main
// window, style sheet, event loop. Returns the process exit code.
int runLauncher(int &argc, char **argv);

// One launcher at a time on an installation, window or service: made once
// the application object exists, held for the process's life.
class InstanceGuard
{
public:
    InstanceGuard();
    bool othersRun() const { return running; }
    // The one that runs is the service (as far as the guard could tell).
    bool serviceRuns() const { return service; }
    // Tells later copies that this one is the service.
    void markAsService();

private:
    std::shared_ptr<QSharedMemory> memory;
    bool running = false;
    bool service = false;
};

// The launcher without a window ("tessarin --service"): supervises the
// servers from the same settings, starts those marked "随启动器启动" and
// stops them all politely when the system asks it to end.
int runService(int &argc, char **argv);
// "tessarin --install-service" / "--remove-service": the system service
// that runs runService at boot (Windows; on Linux the package's unit).
int manageService(int &argc, char **argv, bool install);

// The end of a launcher, window or service, once its servers are gone:
// notes it in the event log; a database step that could not be stopped does
// not keep the process alive.
int endLauncher(int code, const QString &ended);

// Registers the images compiled into the GUI library.
void initLauncherResources();
