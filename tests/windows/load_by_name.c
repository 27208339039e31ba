/*
 * A host application's view of the DLLs: load VUDADUV.dll at run time, find the six exports by
 * their plain names, and download and read back an item record through WQTCPSend against a
 * minimal scale on a loopback socket of this program. Also reads each DLL's version as Windows
 * shows it under the file's properties.
 */
#define WIN32_LEAN_AND_MEAN
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include "vudaduv.h"

typedef int32_t(WINAPI* TcpSend)(const WQTCP*);
typedef int32_t(WINAPI* CommSend)(const WQCOMM*);

static const char* const kExports[] = {"WQTCPSend",     "WQTCPSendEn", "WQTCPSendST",
                                       "WQTCPSendSTEn", "WQCOMMSend",  "WQCOMMSendEn"};
static const char* const kDecorated[] = {"_WQTCPSend@4", "WQTCPSend@4"};

static int failures = 0;

static void Check(int holds, const char* what) {
    if (!holds) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

/* The scale: serves connections one after another until the listener closes; "!0V" lines are
 * kept, "!0U" lines answered with what was kept. */
static SOCKET listener = INVALID_SOCKET;
static char item[512] = "";

static void ServeConnection(SOCKET peer) {
    char line[512];
    char reply[600];
    size_t used = 0;
    char c;
    while (recv(peer, &c, 1, 0) == 1) {
        if (c != '\n') {
            if (used + 1 < sizeof line) line[used++] = c;
            continue;
        }
        if (used > 0 && line[used - 1] == '\r') --used;
        line[used] = '\0';
        used = 0;
        if (strncmp(line, "!0V", 3) == 0) {
            snprintf(item, sizeof item, "%s", line + 3);
            snprintf(reply, sizeof reply, "0v\r\n");
        } else if (strncmp(line, "!0U", 3) == 0) {
            snprintf(reply, sizeof reply, "0u%s\r\n", item);
        } else {
            snprintf(reply, sizeof reply, "0eUNKNOWN\r\n");
        }
        send(peer, reply, (int)strlen(reply), 0);
    }
    closesocket(peer);
}

static DWORD WINAPI ServeScale(LPVOID unused) {
    SOCKET peer;
    (void)unused;
    while ((peer = accept(listener, NULL, NULL)) != INVALID_SOCKET) ServeConnection(peer);
    return 0;
}

static unsigned short StartScale(void) {
    struct sockaddr_in address;
    int length = sizeof address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) return 0;
    if (bind(listener, (struct sockaddr*)&address, sizeof address) != 0) return 0;
    if (listen(listener, 1) != 0) return 0;
    if (getsockname(listener, (struct sockaddr*)&address, &length) != 0) return 0;
    return ntohs(address.sin_port);
}

/* The file and product version of DLL, as numbers and as text, are the project's. */
static void CheckVersion(const char* dll) {
    static char info[4096];
    char what[128];
    VS_FIXEDFILEINFO* fixed = NULL;
    char* text = NULL;
    UINT size = 0;
    DWORD expectedHigh = ((DWORD)VERSION_MAJOR << 16) | VERSION_MINOR;
    DWORD expectedLow = (DWORD)VERSION_PATCH << 16;
    DWORD length = GetFileVersionInfoSizeA(dll, NULL);
    int found = length > 0 && length <= sizeof info && GetFileVersionInfoA(dll, 0, length, info);
    snprintf(what, sizeof what, "%s has a version resource", dll);
    Check(found, what);
    if (!found) return;
    snprintf(what, sizeof what, "%s has the file and product version %s", dll, VERSION_TEXT);
    Check(VerQueryValueA(info, "\\", (void**)&fixed, &size) && size >= sizeof *fixed &&
              fixed->dwFileVersionMS == expectedHigh && fixed->dwFileVersionLS == expectedLow &&
              fixed->dwProductVersionMS == expectedHigh && fixed->dwProductVersionLS == expectedLow,
          what);
    snprintf(what, sizeof what, "%s shows the product version %s", dll, VERSION_TEXT);
    Check(
        VerQueryValueA(info, "\\StringFileInfo\\040904B0\\ProductVersion", (void**)&text, &size) &&
            strcmp(text, VERSION_TEXT) == 0,
        what);
}

static void ReadUploadFile(char* out, size_t size) {
    FILE* file = fopen("Rec.txt", "rb");
    size_t got = 0;
    if (file != NULL) {
        got = fread(out, 1, size - 1, file);
        fclose(file);
    }
    out[got] = '\0';
}

int main(void) {
    HMODULE library = LoadLibraryA("VUDADUV.dll");
    FARPROC found[6];
    size_t i;
    WSADATA wsa;
    char target[64];
    char upload[1024];
    HANDLE scale;

    Check(library != NULL, "VUDADUV.dll loads");
    if (library == NULL) return 1;
    for (i = 0; i < 6; ++i) {
        found[i] = GetProcAddress(library, kExports[i]);
        Check(found[i] != NULL, kExports[i]);
    }
    for (i = 0; i < 2; ++i) Check(GetProcAddress(library, kDecorated[i]) == NULL, kDecorated[i]);
    if (failures != 0) return 1;
    CheckVersion("VUDADUV.dll");
    CheckVersion("WQDATASEND.dll");
    CheckVersion("WQCOMMSEND.dll");

    WSAStartup(MAKEWORD(2, 2), &wsa);
    snprintf(target, sizeof target, "127.0.0.1:%u", (unsigned)StartScale());
    scale = CreateThread(NULL, 0, ServeScale, NULL, 0, NULL);
    DeleteFileA("Rec.txt");
    {
        const char* targets[] = {target};
        const char* items[] = {"12A0100000599##Apple##Fresh"};
        const char* numbers[] = {"12"};
        WQTCP download = {{targets, 1}, {items, 1}, 1};
        WQTCP read = {{targets, 1}, {numbers, 1}, 2};
        TcpSend send = (TcpSend)(void (*)(void))found[0];
        Check(send(&download) == 0, "the download is sent");
        ReadUploadFile(upload, sizeof upload);
        Check(strcmp(upload, "") == 0, "an acknowledgement leaves no upload line");
        Check(send(&read) == 0, "the read request is sent");
        ReadUploadFile(upload, sizeof upload);
        Check(strcmp(upload, "1P0012A0100000599##Apple##Fresh\r\n") == 0,
              "the item comes back as an upload line");
    }

    {
        const char* lines[] = {"12"};
        WQCOMM bad = {0, {lines, 1}, 2};
        CommSend comm = (CommSend)(void (*)(void))found[4];
        Check(comm(&bad) == -2, "a serial send on no line fails in the transport");
        Check(comm(NULL) == -1, "a NULL request sends nothing");
    }
    closesocket(listener);
    WaitForSingleObject(scale, 5000);
    CloseHandle(scale);
    WSACleanup();
    FreeLibrary(library);
    if (failures == 0) printf("all checks passed\n");
    return failures == 0 ? 0 : 1;
}
