/* Configuration of the Duktape library this project builds from the source
 * the system ships. It is the packaged configuration plus an execution
 * time limit: Duktape counts executed instructions and, every so many of
 * them, asks the host whether the running evaluation is past its deadline or
 * was asked to stop; once it is, Duktape throws a RangeError until the
 * evaluation has unwound.
 *
 * The build copies this file next to the copied duktape.h and duktape.c, with
 * the packaged configuration beside it as duk_config_packaged.h, so the
 * library and every file including duktape.h see the same options. */
#if !defined(VELMAR_DUK_CONFIG_H_INCLUDED)
#define VELMAR_DUK_CONFIG_H_INCLUDED

#include "duk_config_packaged.h"

#if defined(__cplusplus)
extern "C" {
#endif

/* Answers nonzero once the evaluation running on the heap whose user data
 * this is has passed its deadline or its script was stopped. Called from
 * Duktape's bytecode executor. */
duk_bool_t velmar_js_interrupted(void *heap_udata);

/* Fatal errors of a heap (and those Duktape raises without one): the host
 * drops the heap and carries on instead of aborting the process. Never
 * returns. */
DUK_NORETURN(void velmar_js_fatal(void *heap_udata, const char *message));

#if defined(__cplusplus)
}
#endif

#undef DUK_USE_INTERRUPT_COUNTER
#define DUK_USE_INTERRUPT_COUNTER

#undef DUK_USE_EXEC_TIMEOUT_CHECK
#define DUK_USE_EXEC_TIMEOUT_CHECK(udata) velmar_js_interrupted((udata))

#undef DUK_USE_FATAL_HANDLER
#define DUK_USE_FATAL_HANDLER(udata, msg) velmar_js_fatal((udata), (msg))

#endif /* VELMAR_DUK_CONFIG_H_INCLUDED */
