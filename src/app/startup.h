#pragma once

// The whole start-up of the launcher: single-instance guard, settings, main
// window, style sheet, event loop. Returns the process exit code.
int runLauncher(int &argc, char **argv);

// Registers the images compiled into the GUI library.
void initLauncherResources();
