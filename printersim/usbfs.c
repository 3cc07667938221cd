// SPDX-License-Identifier: MIT
// The usbdevfs side of an emulated USB printer: umockdev hands every ioctl on the device node
// to usbfs_ioctl() below, on its handler thread, with the caller's memory reachable through
// UMockdevIoctlData. Claiming, releasing and the kernel driver are passed on to the printer;
// transfers are kept here between their submission and their reaping, as the kernel keeps
// URBs: a control or bulk OUT transfer is done at once, a bulk IN transfer when the printer
// has bytes for it, a discarded one at once with -ENOENT. libusb reaps without waiting
// (REAPURBNDELAY), so a transfer still in flight reads as EAGAIN.

#include "usbfs.h"

#include <glib-object.h>
#include <umockdev.h>

#include <errno.h>
#include <linux/usbdevice_fs.h>
#include <stddef.h>
#include <string.h>
#include <sys/ioctl.h>

// What the kernel of a current system says it can do; libusb picks its ways of transferring
// from it.
#define USBFS_CAPABILITIES                                                                         \
    (USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM | \
     USBDEVFS_CAP_REAP_AFTER_DISCONNECT)

enum { SetupLength = 8 };

typedef struct Transfer
{
    const void *client;
    UMockdevIoctlData *urb;    // the caller's struct usbdevfs_urb, resolved
    UMockdevIoctlData *buffer; // its buffer, resolved
    gboolean done;
} Transfer;

typedef struct Handler
{
    UsbfsPrinter printer;
    GPtrArray *transfers; // of Transfer, in the order they were submitted
} Handler;

static void freeTransfer(gpointer data)
{
    Transfer *transfer = data;
    g_clear_object(&transfer->urb);
    g_clear_object(&transfer->buffer);
    g_free(transfer);
}

static void freeHandler(gpointer data)
{
    Handler *handler = data;
    g_ptr_array_unref(handler->transfers);
    g_free(handler);
}

static struct usbdevfs_urb *urbOf(const Transfer *transfer)
{
    return (struct usbdevfs_urb *)transfer->urb->data;
}

// Completes a bulk IN transfer still in flight when the printer has bytes for it.
static void pollIn(Handler *handler, Transfer *transfer)
{
    struct usbdevfs_urb *urb = urbOf(transfer);
    if (transfer->done || urb->type != USBDEVFS_URB_TYPE_BULK || !(urb->endpoint & 0x80))
        return;
    const UsbfsPrinter *p = &handler->printer;
    const int got = p->bulkIn(p->printer, urb->endpoint, transfer->buffer->data,
                              (size_t)transfer->buffer->data_len);
    if (got == 0)
        return;
    urb->status = got < 0 ? got : 0;
    urb->actual_length = got < 0 ? 0 : got;
    transfer->done = TRUE;
}

static int submit(Handler *handler, UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    GError *error = NULL;
    UMockdevIoctlData *urbData =
        umockdev_ioctl_data_resolve(arg, 0, sizeof(struct usbdevfs_urb), &error);
    if (urbData == NULL) {
        g_clear_error(&error);
        return EFAULT;
    }
    struct usbdevfs_urb *urb = (struct usbdevfs_urb *)urbData->data;
    if (urb->buffer_length < 0 ||
        (urb->type != USBDEVFS_URB_TYPE_CONTROL && urb->type != USBDEVFS_URB_TYPE_BULK)) {
        g_object_unref(urbData);
        return EINVAL;
    }
    UMockdevIoctlData *buffer = NULL;
    if (urb->buffer_length > 0) {
        buffer = umockdev_ioctl_data_resolve(urbData, offsetof(struct usbdevfs_urb, buffer),
                                             (gsize)urb->buffer_length, &error);
        if (buffer == NULL) {
            g_clear_error(&error);
            g_object_unref(urbData);
            return EFAULT;
        }
    }
    const UsbfsPrinter *p = &handler->printer;
    Transfer *transfer = g_new0(Transfer, 1);
    transfer->client = client;
    transfer->urb = urbData;
    transfer->buffer = buffer;
    urb->status = 0;
    urb->actual_length = 0;
    guint8 *bytes = buffer ? buffer->data : NULL;
    const size_t length = (size_t)urb->buffer_length;
    int result = 0;
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
        if (length < SetupLength) {
            freeTransfer(transfer);
            return EINVAL;
        }
        result = p->control(p->printer, bytes, bytes + SetupLength, length - SetupLength);
        transfer->done = TRUE;
    } else if (!(urb->endpoint & 0x80)) {
        result = p->bulkOut(p->printer, urb->endpoint, bytes, length);
        transfer->done = TRUE;
    }
    if (transfer->done) {
        urb->status = result < 0 ? result : 0;
        urb->actual_length = result < 0 ? 0 : result;
    }
    g_ptr_array_add(handler->transfers, transfer);
    pollIn(handler, transfer);
    return 0;
}

// Hands the first finished transfer of client back through the pointer that arg points to.
static int reap(Handler *handler, UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    for (guint i = 0; i < handler->transfers->len; ++i) {
        Transfer *transfer = g_ptr_array_index(handler->transfers, i);
        if (transfer->client != client)
            continue;
        pollIn(handler, transfer);
        if (!transfer->done)
            continue;
        GError *error = NULL;
        UMockdevIoctlData *pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(void *), &error);
        if (pointer == NULL) {
            g_clear_error(&error);
            return EFAULT;
        }
        // The caller's pointer is set to its own URB; the URB and its buffer are written back.
        umockdev_ioctl_data_set_ptr(pointer, 0, transfer->urb);
        g_object_unref(pointer);
        g_ptr_array_remove_index(handler->transfers, i);
        return 0;
    }
    return EAGAIN;
}

static int discard(Handler *handler, UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    const gulong address = *(const gulong *)arg->data;
    for (guint i = 0; i < handler->transfers->len; ++i) {
        Transfer *transfer = g_ptr_array_index(handler->transfers, i);
        if (transfer->client != client || transfer->urb->client_addr != address)
            continue;
        if (transfer->done)
            return EINVAL; // too late: it finished, and is reaped as such
        urbOf(transfer)->status = -ENOENT;
        transfer->done = TRUE;
        return 0;
    }
    return EINVAL;
}

// The interface number or struct that arg points to, resolved; NULL when it cannot be read.
static UMockdevIoctlData *argument(UMockdevIoctlData *arg, gsize size)
{
    GError *error = NULL;
    UMockdevIoctlData *data = umockdev_ioctl_data_resolve(arg, 0, size, &error);
    g_clear_error(&error);
    return data;
}

// USBDEVFS_IOCTL: a request to the interface's driver, of which only unbinding and binding are
// known here.
static int driverRequest(Handler *handler, UMockdevIoctlData *arg)
{
    UMockdevIoctlData *data = argument(arg, sizeof(struct usbdevfs_ioctl));
    if (data == NULL)
        return EFAULT;
    const struct usbdevfs_ioctl *request = (const struct usbdevfs_ioctl *)data->data;
    const UsbfsPrinter *p = &handler->printer;
    int error = ENOTTY;
    if (request->ifno < 0) {
        error = EINVAL;
    } else if ((unsigned long)request->ioctl_code == USBDEVFS_DISCONNECT) {
        p->note(p->printer, USBDEVFS_DISCONNECT, request->ifno);
        error = p->disconnect(p->printer, (unsigned)request->ifno);
    } else if ((unsigned long)request->ioctl_code == USBDEVFS_CONNECT) {
        p->note(p->printer, USBDEVFS_CONNECT, request->ifno);
        error = p->connect(p->printer, (unsigned)request->ifno);
    }
    g_object_unref(data);
    return error;
}

// The interface an interface-numbered request names, -1 when it cannot be read.
static int interfaceOf(UMockdevIoctlData *arg)
{
    UMockdevIoctlData *data = argument(arg, sizeof(unsigned int));
    if (data == NULL)
        return -1;
    const int interface = (int)*(const unsigned int *)data->data;
    g_object_unref(data);
    return interface;
}

static gboolean usbfs_ioctl(UMockdevIoctlBase *base, UMockdevIoctlClient *client, gpointer user)
{
    (void)base;
    Handler *handler = user;
    const UsbfsPrinter *p = &handler->printer;
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    int error = 0;
    int interface = -1;
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        p->note(p->printer, request, -1);
        UMockdevIoctlData *data = argument(arg, sizeof(guint32));
        if (data == NULL) {
            error = EFAULT;
            break;
        }
        *(guint32 *)data->data = USBFS_CAPABILITIES;
        g_object_unref(data);
        break;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
        interface = interfaceOf(arg);
        p->note(p->printer, request, interface);
        if (interface < 0)
            error = EFAULT;
        else if (request == USBDEVFS_CLAIMINTERFACE)
            error = p->claim(p->printer, client, (unsigned)interface);
        else
            error = p->release(p->printer, client, (unsigned)interface);
        break;
    case USBDEVFS_GETDRIVER: {
        UMockdevIoctlData *data = argument(arg, sizeof(struct usbdevfs_getdriver));
        if (data == NULL) {
            p->note(p->printer, request, -1);
            error = EFAULT;
            break;
        }
        struct usbdevfs_getdriver *driver = (struct usbdevfs_getdriver *)data->data;
        p->note(p->printer, request, (int)driver->interface);
        error = p->driver(p->printer, driver->interface, driver->driver, sizeof driver->driver);
        g_object_unref(data);
        break;
    }
    case USBDEVFS_IOCTL:
        error = driverRequest(handler, arg);
        break;
    case USBDEVFS_SUBMITURB:
        // Noted by the printer, which sees what each transfer carries.
        error = submit(handler, client, arg);
        break;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
        // Not noted: libusb asks again and again while it waits.
        error = reap(handler, client, arg);
        break;
    case USBDEVFS_DISCARDURB:
        p->note(p->printer, request, -1);
        error = discard(handler, client, arg);
        break;
    default:
        // Anything else (a reset, a configuration or alternate setting, a halt cleared) is
        // noted for the tests to see, and refused as a kernel refuses what it does not know.
        p->note(p->printer, request, -1);
        error = ENOTTY;
        break;
    }
    umockdev_ioctl_client_complete(client, error ? -1 : 0, error);
    return TRUE;
}

static void usbfs_vanished(UMockdevIoctlBase *base, UMockdevIoctlClient *client, gpointer user)
{
    (void)base;
    Handler *handler = user;
    for (guint i = handler->transfers->len; i > 0; --i) {
        const Transfer *transfer = g_ptr_array_index(handler->transfers, i - 1);
        if (transfer->client == client)
            g_ptr_array_remove_index(handler->transfers, i - 1);
    }
    handler->printer.vanished(handler->printer.printer, client);
}

UMockdevIoctlBase *usbfs_handler_new(const UsbfsPrinter *printer)
{
    UMockdevIoctlBase *base = umockdev_ioctl_base_new();
    Handler *handler = g_new0(Handler, 1);
    handler->printer = *printer;
    handler->transfers = g_ptr_array_new_with_free_func(freeTransfer);
    g_object_set_data_full(G_OBJECT(base), "ravelin-usbfs", handler, freeHandler);
    g_signal_connect(base, "handle-ioctl", G_CALLBACK(usbfs_ioctl), handler);
    g_signal_connect(base, "client-vanished", G_CALLBACK(usbfs_vanished), handler);
    return base;
}
