// The host hook table: the six functions through which the module allocates, reports errors
// and traces. The host passes one to GetClassFactory; the module keeps the installed table and
// the one it replaced. Host-facing header: compiles on its own.
#pragma once

#include <cstddef>
#include <cstdint>

class AbstractASErrno;

extern "C" {
typedef void* (*as_new_fn)(uint64_t size, bool throw_on_failure);
typedef void (*as_delete_fn)(void* block);
typedef int (*as_set_err_msg_fn)(const char* format, ...);
typedef int32_t (*as_set_err_fn)(int32_t code, const char* format, ...);
typedef AbstractASErrno* (*as_get_err_fn)();
typedef void (*as_trace_fn)(int32_t level, const char* format, ...);
}

// Six pointers, in this order; the module copies the table, the host keeps ownership.
struct ASHookTable {
    as_new_fn _as_new;  // with the flag true it must never return null (throw instead)
    as_delete_fn _as_delete;
    as_set_err_msg_fn _as_set_err_msg;
    as_set_err_fn _as_set_err;  // returns the code it was given
    as_get_err_fn _as_get_err;
    as_trace_fn _as_trace;  // (level, format, thread id, source name, line, ...)
};

static_assert(sizeof(ASHookTable) == 6 * sizeof(void*), "hook table is six pointers");
static_assert(offsetof(ASHookTable, _as_trace) == 5 * sizeof(void*), "trace hook is the sixth");
