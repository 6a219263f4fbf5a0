#include "app/startup.h"

#include <cstring>

int main(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--service") == 0)
            return runService(argc, argv);
        if (std::strcmp(argv[i], "--install-service") == 0 || std::strcmp(argv[i], "--remove-service") == 0)
            return manageService(argc, argv, std::strcmp(argv[i], "--install-service") == 0);
    }
    return runLauncher(argc, argv);
}
