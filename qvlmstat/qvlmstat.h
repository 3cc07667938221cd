// SPDX-License-Identifier: MIT
#pragma once

/* The stand-in for the printer maker's status library QVLMSTAT on Linux: the two functions the
 * program looks up, over the CUPS scheduler that libcups is configured to use and, for a
 * printer of the series on a network, serial or device-file connection, the printer itself. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QVLMSTAT_EXPORT __attribute__((visibility("default")))

/* The status word of the default destination as libcups resolves it (LPDEST, PRINTER, the
 * lpoptions files, then the scheduler's default); 0x0080 (Printer Error) alone when there is
 * none. */
QVLMSTAT_EXPORT int32_t GetLMStatus(void);

/* The status word of the queue named name ("queue" or "queue/instance"; an instance has its
 * queue's status): the scheduler's word with the printer's own bits ORed in, Printer Error added
 * when a printer that should answer does not. 0x0080 (Printer Error) alone for an unknown
 * queue, an unreachable or silent scheduler, or any failed request. Returns within one second,
 * and at once while the scheduler or the printer was found silent in the last five seconds. */
QVLMSTAT_EXPORT int32_t GetPrinterStatus(const char *name);

#ifdef __cplusplus
}
#endif
