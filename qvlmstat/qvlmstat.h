// SPDX-License-Identifier: MIT
#pragma once

/* The stand-in for the printer maker's status library QVLMSTAT on Linux: the two functions the
 * program looks up, and an optional third. Each call asks the language monitor (ravelin-monitor)
 * first; with none, or for a printer it does not watch, it asks the CUPS scheduler that libcups
 * is configured to use and, for a printer of the series on a network, serial or device-file
 * connection, the printer itself. */

#include <stddef.h>
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

/* Why the calling thread's last call of GetPrinterStatus or GetLMStatus read Printer Error
 * ("QVT-7460-Lobby: 127.0.0.1:9100 did not answer the second status request within 800 ms"),
 * copied into buffer NUL-terminated and cut to fit, as snprintf does (nothing is written when
 * size is 0). Returns the reason's full length in bytes, without its NUL; 0 when the last word
 * had no Printer Error or the thread has made no call. Optional: the maker's library lacks it. */
QVLMSTAT_EXPORT size_t GetStatusReason(char *buffer, size_t size);

#ifdef __cplusplus
}
#endif
