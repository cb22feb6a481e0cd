/* The handset as a configfs gadget. The HID function has no OUT endpoint,
 * so that every SET_REPORT the host sends, feature reports included, comes
 * out of /dev/hidg0 as it came; the report descriptor gives the handset's
 * reports: input ID 1 with one data byte, feature ID 6 with two. */
#include "gadget.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#define G "/sys/kernel/config/usb_gadget/halvex"
#define UDC_NAME "dummy_udc.0"

static const unsigned char g_abReportDescriptor[] = {
    0x06, 0x00, 0xFF,  /* usage page: vendor 0xFF00 */
    0x09, 0x01,        /* usage 1 */
    0xA1, 0x01,        /* collection: application */
    0x15, 0x00,        /*   logical minimum 0 */
    0x26, 0xFF, 0x00,  /*   logical maximum 255 */
    0x75, 0x08,        /*   report size 8 bits */
    0x85, 0x01,        /*   report ID 1 */
    0x95, 0x01,        /*   report count 1 */
    0x09, 0x01,        /*   usage 1 */
    0x81, 0x02,        /*   input: data, variable, absolute */
    0x85, 0x06,        /*   report ID 6 */
    0x95, 0x02,        /*   report count 2 */
    0x09, 0x02,        /*   usage 2 */
    0xB1, 0x02,        /*   feature: data, variable, absolute */
    0xC0,              /* end collection */
};

static int WriteBytes(const char *pszPath, const void *pData, size_t nBytes) {
    int fd = open(pszPath, O_WRONLY);
    if (fd < 0) {
        fprintf(stderr, "handsetd: open %s: %s\n", pszPath, strerror(errno));
        return -1;
    }
    ssize_t n = write(fd, pData, nBytes);
    int nError = errno;
    close(fd);
    if (n != (ssize_t)nBytes) {
        fprintf(stderr, "handsetd: write %s: %s\n", pszPath, strerror(nError));
        return -1;
    }
    return 0;
}

static int WriteText(const char *pszPath, const char *pszText) {
    return WriteBytes(pszPath, pszText, strlen(pszText));
}

static int MakeDir(const char *pszPath) {
    if (mkdir(pszPath, 0755) == 0 || errno == EEXIST) return 0;
    fprintf(stderr, "handsetd: mkdir %s: %s\n", pszPath, strerror(errno));
    return -1;
}

/* udevadm settle: Wine's HID bus hears of the device only through udev. */
static void Settle(void) {
    pid_t pid = fork();
    if (pid == 0) {
        execlp("udevadm", "udevadm", "settle", "--timeout=30", (char *)NULL);
        _exit(127);
    }
    if (pid > 0) waitpid(pid, NULL, 0);
}

int GadgetCreate(void) {
    static const struct { const char *pszFile, *pszValue; } aValues[] = {
        {G "/idVendor", "0x0c70"}, {G "/idProduct", "0x0000"}, {G "/bcdDevice", "0x0100"},
        {G "/bcdUSB", "0x0200"},
        {G "/strings/0x409/manufacturer", "C-Media Electronics Inc.      "},
        {G "/strings/0x409/product", "C-Media USB Headphone Set  "},
        {G "/strings/0x409/serialnumber", "HALVEX0001"},
        {G "/functions/hid.usb0/protocol", "0"}, {G "/functions/hid.usb0/subclass", "0"},
        {G "/functions/hid.usb0/report_length", "8"}, {G "/functions/hid.usb0/no_out_endpoint", "1"},
        {G "/configs/c.1/strings/0x409/configuration", "Halvex handset"},
        {G "/configs/c.1/MaxPower", "100"},
    };
    static const char *apszDirs[] = {G, G "/strings/0x409", G "/functions/hid.usb0", G "/configs/c.1",
                                     G "/configs/c.1/strings/0x409"};
    for (size_t i = 0; i < sizeof apszDirs / sizeof *apszDirs; ++i)
        if (MakeDir(apszDirs[i])) return -1;
    for (size_t i = 0; i < sizeof aValues / sizeof *aValues; ++i)
        if (WriteText(aValues[i].pszFile, aValues[i].pszValue)) return -1;
    if (WriteBytes(G "/functions/hid.usb0/report_desc", g_abReportDescriptor, sizeof g_abReportDescriptor))
        return -1;
    if (symlink(G "/functions/hid.usb0", G "/configs/c.1/hid.usb0") && errno != EEXIST) {
        fprintf(stderr, "handsetd: link the HID function: %s\n", strerror(errno));
        return -1;
    }
    return 0;
}

/* The handset's device on the host side of dummy_hcd, by its vendor ID:
 * its sysfs folder ("/sys/bus/usb/devices/2-1") in pszOut, or 0. */
static int HostSideDevice(char *pszOut, size_t nBytes) {
    DIR *pDir = opendir("/sys/bus/usb/devices");
    struct dirent *pEntry;
    int bFound = 0;
    while (pDir && !bFound && (pEntry = readdir(pDir))) {
        char szPath[300], szId[16] = {0};
        snprintf(szPath, sizeof szPath, "/sys/bus/usb/devices/%s/idVendor", pEntry->d_name);
        FILE *p = fopen(szPath, "r");
        if (p && fgets(szId, sizeof szId, p) && !strncmp(szId, "0c70", 4)) {
            snprintf(pszOut, nBytes, "/sys/bus/usb/devices/%s/authorized", pEntry->d_name);
            bFound = 1;
        }
        if (p) fclose(p);
    }
    if (pDir) closedir(pDir);
    return bFound;
}

/* Bound once. Unplug and replug withdraw and restore the PC's authorisation
 * of the device (its "authorized" file): the host side drops the device's
 * interfaces, hidraw with them, and sets them up afresh, while the gadget
 * only sees its configuration go and come. Unbinding the gadget instead
 * deletes the HID function's character device, and the next bind sets it up
 * afresh in the same memory: 6.1's f_hid then corrupts the kernel's list of
 * that device's inodes (a BUG in cd_forget when a process exits). */
int GadgetPlug(int bPlugged) {
    static int bBound;
    static char szAuthorized[320];
    int nResult = -1;
    if (!bBound && bPlugged) {
        nResult = WriteText(G "/UDC", UDC_NAME);
        bBound = nResult == 0;
        Settle();
        /* The host enumerates it on its own time: up to 10 s. */
        for (int i = 0; bBound && i < 100 && !HostSideDevice(szAuthorized, sizeof szAuthorized); ++i) usleep(100000);
        if (bBound && !szAuthorized[0]) fprintf(stderr, "handsetd: the host side does not show the handset\n");
        return nResult;
    }
    if (szAuthorized[0]) nResult = WriteText(szAuthorized, bPlugged ? "1" : "0");
    Settle();
    return nResult;
}

/* Off the bus for good, but never unbound or removed (see GadgetPlug): the
 * handset run is the guest's last, so the idle gadget harms nothing. */
void GadgetRemove(void) { GadgetPlug(0); }
