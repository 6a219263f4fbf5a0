#include "app/startup.h"

#include <cstring>

int main(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--service") == 0)
            return runService(argc, argv);
    }
    return runLauncher(argc, argv);
}
