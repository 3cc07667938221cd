// SPDX-License-Identifier: MIT
#include "statusdouble.h"

#include <string.h>

#define EXPORT __attribute__((visibility("default")))

static int32_t scriptedLMStatus;
static int32_t scriptedPrinterStatus;
static int lmCalls;
static int printerCalls;
static char lastName[1024];

EXPORT void statusDoubleScript(int32_t lmStatus, int32_t printerStatus)
{
    scriptedLMStatus = lmStatus;
    scriptedPrinterStatus = printerStatus;
    lmCalls = 0;
    printerCalls = 0;
    lastName[0] = '\0';
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
