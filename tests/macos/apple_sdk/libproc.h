#pragma once
// As in the SDK's <libproc.h> and <sys/proc_info.h>: a task's times.
#include <stdint.h>

#define PROC_PIDTASKINFO 4

struct proc_taskinfo {
    uint64_t pti_virtual_size;
    uint64_t pti_resident_size;
    uint64_t pti_total_user;
    uint64_t pti_total_system;
    uint64_t pti_threads_user;
    uint64_t pti_threads_system;
    int32_t pti_policy;
    int32_t pti_faults;
    int32_t pti_pageins;
    int32_t pti_cow_faults;
    int32_t pti_messages_sent;
    int32_t pti_messages_received;
    int32_t pti_syscalls_mach;
    int32_t pti_syscalls_unix;
    int32_t pti_csw;
    int32_t pti_threadnum;
    int32_t pti_numrunning;
    int32_t pti_priority;
};

#ifdef __cplusplus
extern "C" {
#endif
int proc_pidinfo(int pid, int flavor, uint64_t arg, void* buffer, int buffersize);
#ifdef __cplusplus
}
#endif
