// A stand-in for a library the programs load, planted in the folder they are started in.
// Should the loader ever take it, its constructor leaves a mark in that folder.
#include <fcntl.h>
#include <unistd.h>

__attribute__((constructor)) static void LeaveMark(void) {
    const int Fd = open("planted-library-was-loaded", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (Fd >= 0)
        close(Fd);
}
