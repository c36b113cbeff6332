/* Fails when any COM port can be opened: the Wine runs of the tests must
   never reach the machine's serial devices. */
#include <windows.h>
#include <stdio.h>

int main(void) {
    int opened = 0;
    for (int n = 1; n <= 256; ++n) {
        wchar_t name[32];
        swprintf(name, 32, L"\\\\.\\COM%d", n);
        HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (h != INVALID_HANDLE_VALUE) {
            printf("COM%d opens\n", n);
            CloseHandle(h);
            ++opened;
        }
    }
    printf(opened ? "%d real port(s) reachable\n" : "no COM port reachable\n", opened);
    return opened ? 1 : 0;
}
