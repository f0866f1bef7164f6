// The kernel side of the eBPF source: watches the system calls of every
// process for the watched ports and ships what happened on them, with the
// bytes, into one ring buffer. A call is recorded as it returns: its result
// says how many bytes moved, and the buffer is still the caller's.
#include "vmlinux.h"

#include <bpf/bpf_core_read.h>
#include <bpf/bpf_helpers.h>

#include "BpfRecord.h"
#include "VantryMaps.bpf.h"
#include "VantryFiles.bpf.h"
#include "VantryShip.bpf.h"

char LICENSE[] SEC("license") = "GPL";

static __always_inline int on_enter(int typed, struct pt_regs *regs, long id) {
    // Only closes and execs are looked at before they run.
    if (!watched_ports || (id != NR_close && id != NR_dup2 && id != NR_dup3 && id != NR_execve &&
                           id != NR_execveat && id != NR_close_range))
        return 0;
    if (KERNEL_FIELD(typed, regs, cs) != USER64_CS)
        return 0;
    struct scan_state scan = {};
    if (id == NR_execve || id == NR_execveat) {
        scan.mode = SCAN_EXEC;
        scan_table(&scan);
        __u32 tgid = bpf_get_current_pid_tgid() >> 32;
        if (scan.out.count)
            bpf_map_update_elem(&exec_closing, &tgid, &scan.out, BPF_ANY);
        return 0;
    }
    __u64 id_key = bpf_get_current_pid_tgid();
    if (id == NR_close_range) {
        __u32 flags = KERNEL_FIELD(typed, regs, dx);
        // Marked close-on-exec only; or closed in a private copy of a
        // table that others share, which still hold the ports.
        if ((flags & CLOSE_RANGE_CLOEXEC) ||
            ((flags & CLOSE_RANGE_UNSHARE) &&
             BPF_CORE_READ((struct task_struct *)bpf_get_current_task(), files, count.counter) != 1))
            return 0;
        scan.mode = SCAN_RANGE;
        scan.first = KERNEL_FIELD(typed, regs, di);
        scan.last = KERNEL_FIELD(typed, regs, si);
        scan_table(&scan);
        if (scan.out.count)
            bpf_map_update_elem(&closing, &id_key, &scan.out, BPF_ANY);
        return 0;
    }
    // A dup2 or dup3 onto a port's fd closes that fd.
    __u32 fd;
    if (id == NR_close)
        fd = KERNEL_FIELD(typed, regs, di);
    else if (KERNEL_FIELD(typed, regs, si) != KERNEL_FIELD(typed, regs, di))
        fd = KERNEL_FIELD(typed, regs, si);
    else
        return 0;
    struct file *file = file_of(typed, fd);
    if (!port_of(typed, file, &scan.out.keys[0]) || !last_reference(file))
        return 0;
    scan.out.count = 1;
    bpf_map_update_elem(&closing, &id_key, &scan.out, BPF_ANY);
    return 0;
}

// The ports a call released, once it succeeded.
static __always_inline void emit_released(void *map, void *key, int succeeded) {
    struct released *pending = bpf_map_lookup_elem(map, key);
    if (!pending)
        return;
    struct released out = *pending;
    bpf_map_delete_elem(map, key);
    if (!succeeded)
        return;
    for (__u32 i = 0; i < MAX_RELEASED && i < out.count; i++)
        emit(BPF_REC_CLOSE, &out.keys[i], 0);
}

static __always_inline int on_exit(int typed, struct pt_regs *regs, long ret) {
    if (!watched_ports)
        return 0;
    if (KERNEL_FIELD(typed, regs, cs) != USER64_CS) {
        // Not decoded: named once for a process that holds a port.
        name_call(CALL_32_BIT, 0, 0, 1);
        return 0;
    }
    long id = KERNEL_FIELD(typed, regs, orig_ax);
    __u64 a0 = KERNEL_FIELD(typed, regs, di);
    struct bpf_port_key key;
    switch (id) {
    case NR_read:
    case NR_pread64:
    case NR_write:
    case NR_pwrite64:
        if (ret > 0 && fd_port(typed, a0, &key))
            ship_data(typed, id == NR_read || id == NR_pread64 ? BPF_REC_READ : BPF_REC_WRITE, &key,
                      KERNEL_FIELD(typed, regs, si), 0, 0, ret);
        return 0;
    case NR_readv:
    case NR_preadv:
    case NR_preadv2:
    case NR_writev:
    case NR_pwritev:
    case NR_pwritev2:
        if (ret > 0 && fd_port(typed, a0, &key))
            ship_data(typed, id == NR_writev || id == NR_pwritev || id == NR_pwritev2 ? BPF_REC_WRITE
                                                                                : BPF_REC_READ,
                      &key, KERNEL_FIELD(typed, regs, si), KERNEL_FIELD(typed, regs, dx), 1, ret);
        return 0;
    case NR_ioctl: {
        __u32 cmd = KERNEL_FIELD(typed, regs, si);
        int settings = is_set_termios(cmd);
        // Most ioctls are none of these, and go before the fd is looked at.
        if ((!settings && !is_port_control(cmd)) || !fd_port(typed, a0, &key))
            return 0;
        if (settings && ret == 0)
            ship_settings(&key, a0, cmd, BPF_CORE_READ(regs, dx), 0);
        else
            ship_control(&key, cmd, BPF_CORE_READ(regs, dx), ret);
        return 0;
    }
    case NR_open:
    case NR_creat:
    case NR_openat:
    case NR_openat2: {
        if (ret < 0)
            return 0;
        struct file *file = file_of(typed, ret);
        if (!port_of(typed, file, &key) || (BPF_CORE_READ(file, f_mode) & FMODE_PATH))
            return 0;
        emit_open(&key);
        // What the port is set to as it is opened, read before anything
        // else can change it: the kernel's termios has termios2's layout.
        struct tty_file_private *priv = BPF_CORE_READ(file, private_data);
        struct tty_struct *tty = BPF_CORE_READ(priv, tty);
        if (tty)
            ship_settings(&key, ret, TCSETS2, (__u64)&tty->termios, 1);
        return 0;
    }
    case NR_close:
    case NR_close_range:
    case NR_dup2:
    case NR_dup3: {
        __u64 id_key = bpf_get_current_pid_tgid();
        emit_released(&closing, &id_key, ret >= 0);
        return 0;
    }
    case NR_execve:
    case NR_execveat: {
        __u32 tgid = bpf_get_current_pid_tgid() >> 32;
        emit_released(&exec_closing, &tgid, ret == 0);
        return 0;
    }
    case NR_sendfile:
        name_call(CALL_SENDFILE, a0, BPF_CORE_READ(regs, si), 0);
        return 0;
    case NR_splice:
        name_call(CALL_SPLICE, a0, BPF_CORE_READ(regs, dx), 0);
        return 0;
    case NR_tee:
        name_call(CALL_SPLICE, a0, BPF_CORE_READ(regs, si), 0);
        return 0;
    case NR_vmsplice:
        name_call(CALL_SPLICE, a0, a0, 0);
        return 0;
    case NR_copy_file_range:
        name_call(CALL_COPY_FILE_RANGE, a0, BPF_CORE_READ(regs, dx), 0);
        return 0;
    case NR_io_uring_enter:
        name_call(CALL_IO_URING, 0, 0, 1);
        return 0;
    case NR_io_submit:
        name_call(CALL_IO_SUBMIT, 0, 0, 1);
        return 0;
    default:
        return 0;
    }
}

// A process whose fd table dies with it closes what it still holds.
static __always_inline int on_process_exit(void) {
    if (!watched_ports)
        return 0;
    // The calls named for a process are named afresh for the next one
    // that gets its id.
    __u64 ids = bpf_get_current_pid_tgid();
    __u32 tgid = ids >> 32;
    if ((__u32)ids == tgid)
        bpf_map_delete_elem(&named, &tgid);
    struct task_struct *task = (struct task_struct *)bpf_get_current_task();
    if (BPF_CORE_READ(task, files, count.counter) != 1)
        return 0;
    struct scan_state scan = {.mode = SCAN_EXIT};
    scan_table(&scan);
    // Released when the table held its every reference, on however many fds.
    if (scan.found && references(scan.file) == scan.fds)
        emit(BPF_REC_CLOSE, &scan.key, 0);
    return 0;
}

// The same programs twice: the BTF-typed tracepoints where the kernel
// allows them, the raw ones otherwise. The driver loads one pair.
SEC("tp_btf/sys_enter")
int btf_enter(__u64 *ctx) {
    return on_enter(1, (struct pt_regs *)ctx[0], (long)ctx[1]);
}

SEC("tp_btf/sys_exit")
int btf_exit(__u64 *ctx) {
    return on_exit(1, (struct pt_regs *)ctx[0], (long)ctx[1]);
}

SEC("tp_btf/sched_process_exit")
int btf_process_exit(__u64 *ctx) {
    return on_process_exit();
}

SEC("raw_tp/sys_enter")
int raw_enter(struct bpf_raw_tracepoint_args *ctx) {
    return on_enter(0, (struct pt_regs *)ctx->args[0], (long)ctx->args[1]);
}

SEC("raw_tp/sys_exit")
int raw_exit(struct bpf_raw_tracepoint_args *ctx) {
    return on_exit(0, (struct pt_regs *)ctx->args[0], (long)ctx->args[1]);
}

SEC("raw_tp/sched_process_exit")
int raw_process_exit(struct bpf_raw_tracepoint_args *ctx) {
    return on_process_exit();
}
