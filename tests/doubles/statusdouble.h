// SPDX-License-Identifier: MIT
#pragma once

/* The test-only calls of the status library doubles. A test opens the double it loaded with
 * dlopen() as well, which gives it the same instance, and looks these up. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*StatusDoubleScriptFn)(int32_t lmStatus, int32_t printerStatus);
typedef int (*StatusDoubleCallsFn)(void);
typedef const char *(*StatusDoubleLastNameFn)(void);
typedef void (*StatusDoubleScriptReasonFn)(const char *reason);

#ifdef __cplusplus
}
#endif
