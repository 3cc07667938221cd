// SPDX-License-Identifier: MIT
#pragma once

// The usbdevfs calls that libusb makes on a USB device node, answered for an emulated printer
// inside umockdev's testbed. usbfs.c decodes the calls (claiming, the kernel driver, transfers
// submitted, reaped and discarded) and keeps the transfers in flight; what the printer does
// comes from the functions of UsbfsPrinter, which the USB face (usbface.cpp) implements over
// its scripted state. Every function is called on umockdev's handler thread.

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;

typedef struct UsbfsPrinter
{
    void *printer; // passed to every function
    // Every call as it arrives: its request code, and the interface it names (-1 for none).
    void (*note)(void *printer, unsigned long request, int interface);
    // Claims or releases an interface for client (one open descriptor); 0 or an errno.
    int (*claim)(void *printer, const void *client, unsigned interface);
    int (*release)(void *printer, const void *client, unsigned interface);
    // The name of the driver bound to the interface into name; 0, or ENODATA for none.
    int (*driver)(void *printer, unsigned interface, char *name, size_t size);
    // Unbinds or binds the kernel's driver; 0 or an errno.
    int (*disconnect)(void *printer, unsigned interface);
    int (*connect)(void *printer, unsigned interface);
    // A control transfer: setup is the 8-byte setup packet, data its data stage (length bytes,
    // filled for an IN request). The length transferred, or minus an errno (-EPIPE: stalled).
    int (*control)(void *printer, const uint8_t *setup, uint8_t *data, size_t length);
    // A bulk OUT transfer; the length taken, or minus an errno.
    int (*bulkOut)(void *printer, uint8_t endpoint, const uint8_t *data, size_t length);
    // A bulk IN transfer asks for up to length bytes: how many it got (0: none yet, asked again
    // later), or minus an errno.
    int (*bulkIn)(void *printer, uint8_t endpoint, uint8_t *data, size_t length);
    // client has closed its descriptor: what it held is let go.
    void (*vanished)(void *printer, const void *client);
} UsbfsPrinter;

// A handler for umockdev_testbed_attach_ioctl() that answers for printer, which must outlive it.
UMockdevIoctlBase *usbfs_handler_new(const UsbfsPrinter *printer);

#ifdef __cplusplus
}
#endif
