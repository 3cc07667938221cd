// SPDX-License-Identifier: MIT
#include "statusdouble.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

static int32_t scriptedLMStatus;
static int32_t scriptedPrinterStatus;
static int lmCalls;
static int printerCalls;
static char lastName[1024];
static char *scriptedReason;
static int reasonCalls;

EXPORT void statusDoubleScript(int32_t lmStatus, int32_t printerStatus)
{
    scriptedLMStatus = lmStatus;
    scriptedPrinterStatus = printerStatus;
    lmCalls = 0;
    printerCalls = 0;
    lastName[0] = '\0';
    free(scriptedReason);
    scriptedReason = NULL;
    reasonCalls = 0;
}

/* The reason GetStatusReason gives from now on; NULL for none. */
EXPORT void statusDoubleScriptReason(const char *reason)
{
    free(scriptedReason);
    scriptedReason = NULL;
    if (reason) {
        const size_t size = strlen(reason) + 1;
        scriptedReason = malloc(size);
        if (scriptedReason)
            memcpy(scriptedReason, reason, size);
    }
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
    const char *reason = scriptedReason ? scriptedReason : "";
    if (size > 0)
        snprintf(buffer, size, "%s", reason);
    return strlen(reason);
}
#endif
