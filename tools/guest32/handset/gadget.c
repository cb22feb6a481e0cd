/* The handset as a configfs gadget. The HID function has no OUT endpoint,
 * so that every SET_REPORT the host sends, feature reports included, comes
 * out of /dev/hidg0 as it came; the report descriptor gives the handset's
 * reports: input ID 1 with one data byte, feature ID 6 with two. */
#include "gadget.h"

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

int GadgetPlug(int bPlugged) {
    int nResult = WriteText(G "/UDC", bPlugged ? UDC_NAME : "\n");
    Settle();
    return nResult;
}

void GadgetRemove(void) {
    WriteText(G "/UDC", "\n");
    unlink(G "/configs/c.1/hid.usb0");
    rmdir(G "/configs/c.1/strings/0x409");
    rmdir(G "/configs/c.1");
    rmdir(G "/functions/hid.usb0");
    rmdir(G "/strings/0x409");
    rmdir(G);
    Settle();
}
