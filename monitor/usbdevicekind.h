// SPDX-License-Identifier: MIT
#pragma once

// The monitor's kind of device for USB printers: the queues on the print system's usb backend
// (device URI usb://MAKE/MODEL?serial=SN), read with the USB printer reader (usbprinter/). One
// reader per printer, however many queues print on it. A printer is asked only while its queue
// is idle, never while the backend may be printing a job on it; one whose interface another
// program holds (a job that has just started) reads as the scheduler's word alone; one the
// monitor may not open reads Printer Error, its reason naming the device and how to grant access.
// The words and reasons are made as for the other devices (qvlmstat::withDevice()).

#include "devicereader.h"

namespace ravelin::usbprinter {
class UsbPrinters;
}

namespace ravelin::monitor {

// usb must outlive the device readers of the queue watcher that is given this kind.
DeviceKind usbDeviceKind(usbprinter::UsbPrinters &usb);

} // namespace ravelin::monitor
