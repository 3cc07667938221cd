// SPDX-License-Identifier: MIT
#include "statusdouble.h"

#include <stdio.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

static int32_t scriptedLMStatus;
static int32_t scriptedPrinterStatus;
static int lmCalls;
static int printerCalls;
static char lastName[1024];
/* A static buffer, not the heap: the tests unload the double while it holds a reason. */
static char scriptedReason[16384];
static int reasonCalls;

EXPORT void statusDoubleScript(int32_t lmStatus, int32_t printerStatus)
{
    scriptedLMStatus = lmStatus;
    scriptedPrinterStatus = printerStatus;
    lmCalls = 0;
    printerCalls = 0;
    lastName[0] = '\0';
    scriptedReason[0] = '\0';
    reasonCalls = 0;
}

/* The reason GetStatusReason gives from now on, cut to 16383 bytes; empty for none. */
EXPORT void statusDoubleScriptReason(const char *reason)
{
    snprintf(scriptedReason, sizeof scriptedReason, "%s", reason);
}

EXPORT int statusDoubleReasonCalls(void)
{
    return reasonCalls;
}

EXPORT int statusDoubleLMCalls(void)
{
    return lmCalls;
}

EXPORT int statusDoublePrinterCalls(void)
{
    return printerCalls;
}

EXPORT const char *statusDoubleLastName(void)
{
    return lastName;
}

#ifndef STATUS_DOUBLE_WITHOUT_LM
EXPORT int32_t GetLMStatus(void)
{
    ++lmCalls;
    return scriptedLMStatus;
}
#endif

#ifndef STATUS_DOUBLE_WITHOUT_PRINTER
EXPORT int32_t GetPrinterStatus(const char *name)
{
    ++printerCalls;
    strncpy(lastName, name, sizeof lastName - 1);
    lastName[sizeof lastName - 1] = '\0';
    return scriptedPrinterStatus;
}
#endif

#ifndef STATUS_DOUBLE_WITHOUT_REASON
/* As the stand-in's: the reason cut to fit like snprintf, and its full length. */
EXPORT size_t GetStatusReason(char *buffer, size_t size)
{
    ++reasonCalls;
    if (size > 0)
        snprintf(buffer, size, "%s", scriptedReason);
    return strlen(scriptedReason);
}
#endif
