// The kernel side of the eBPF source: watches the system calls of every
// process for the watched ports and ships what happened on them, with the
// bytes, into one ring buffer. A call is recorded as it returns: its result
// says how many bytes moved, and the buffer is still the caller's.
#include "vmlinux.h"

#include <bpf/bpf_core_read.h>
#include <bpf/bpf_helpers.h>

#include "BpfRecord.h"

char LICENSE[] SEC("license") = "GPL";

#if !defined(__TARGET_ARCH_x86)
#error "the eBPF source knows the x86-64 system call numbers only"
#endif

#define NR_read 0
#define NR_write 1
#define NR_open 2
#define NR_close 3
#define NR_ioctl 16
#define NR_execve 59
#define NR_pread64 17
#define NR_pwrite64 18
#define NR_readv 19
#define NR_writev 20
#define NR_sendfile 40
#define NR_dup2 33
#define NR_creat 85
#define NR_io_submit 209
#define NR_openat 257
#define NR_splice 275
#define NR_tee 276
#define NR_vmsplice 278
#define NR_preadv 295
#define NR_pwritev 296
#define NR_copy_file_range 326
#define NR_preadv2 327
#define NR_pwritev2 328
#define NR_dup3 292
#define NR_io_uring_enter 426
#define NR_openat2 437
#define NR_execveat 322

// The calls of the driver's notices (VantryProtocol.h).
#define CALL_SENDFILE 1
#define CALL_SPLICE 2
#define CALL_COPY_FILE_RANGE 3
#define CALL_IO_URING 5
#define CALL_IO_SUBMIT 6

#define FMODE_PATH 0x4000
#define TCSETS2 0x402C542B
// Beyond this many fds a table is not searched for a port (io_uring, exit).
#define MAX_SCANNED_FDS 4096
// Data records wake the driver (which looks on a short timer anyway) only
// as this much comes to wait.
#define WAKE_THRESHOLD (1024 * 1024)

// Set before the load: the driver's PID namespace (ids are given in it and
// processes outside it are not seen) and the driver itself.
const volatile __u64 ns_dev = 0;
const volatile __u64 ns_ino = 0;
const volatile __u32 self_tgid = 0;

// How many ports are watched: nothing is looked at while there are none.
__u32 watched_ports = 0;

struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 1024);
    __type(key, struct bpf_port_key);
    __type(value, __u8);
} ports SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_RINGBUF);
    __uint(max_entries, 8 << 20);
} records SEC(".maps");

struct piece_state {
    __u64 base;    // the current buffer
    __u64 length;  // its length
    __u64 offset;  // shipped of it
    __u64 left;    // bytes of the call still to ship
    __u64 iov;     // the iovec array of a vector call, 0 for a plain one
    __u32 iov_count;
    __u32 iov_next;
    __u16 piece;
};

// A record is built here: the stack is too small for the loop's state, and
// a settings record goes out whole from here.
struct scratch {
    struct bpf_record record;
    __u8 data[BPF_SETTINGS_SIZE + 64];
    struct piece_state state;
};

struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct scratch);
} scratches SEC(".maps");

// Per CPU: the next record's number, and the records the ring buffer
// could not take.
struct counters {
    __u32 seq;
    __u32 pad;
    __u64 lost;
};

struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct counters);
} counts SEC(".maps");

// A close of a port's last fd (by close, or by a dup2 over it), between its
// entry and its result.
struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 16384);
    __type(key, __u64);
    __type(value, struct bpf_port_key);
} closing SEC(".maps");

// The ports an exec releases (their fds close on exec), by process: a
// thread other than the leader that execs takes the leader's id.
struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 16384);
    __type(key, __u32);
    __type(value, struct bpf_port_key);
} exec_closing SEC(".maps");

// The calls already named for a process (by its id outside any namespace).
struct {
    __uint(type, BPF_MAP_TYPE_LRU_HASH);
    __uint(max_entries, 16384);
    __type(key, __u32);
    __type(value, __u32);
} named SEC(".maps");

struct file___old {
    atomic_long_t f_count;
} __attribute__((preserve_access_index));

static __always_inline __u32 next_seq(void) {
    __u32 key = 0;
    struct counters *c = bpf_map_lookup_elem(&counts, &key);
    if (!c)
        return 0;
    return c->seq++;
}

static __always_inline void count_lost(void) {
    __u32 key = 0;
    struct counters *c = bpf_map_lookup_elem(&counts, &key);
    if (c)
        c->lost++;
}

static __always_inline struct file *file_of(struct task_struct *task, __u32 fd) {
    struct fdtable *fdt = BPF_CORE_READ(task, files, fdt);
    if (!fdt || fd >= BPF_CORE_READ(fdt, max_fds))
        return 0;
    struct file **table = BPF_CORE_READ(fdt, fd);
    struct file *file = 0;
    bpf_probe_read_kernel(&file, sizeof file, &table[fd]);
    return file;
}

// Whether the file is a watched port, and which.
static __always_inline int port_of(struct file *file, struct bpf_port_key *key) {
    if (!file)
        return 0;
    struct inode *inode = BPF_CORE_READ(file, f_inode);
    key->rdev = BPF_CORE_READ(inode, i_rdev);
    if (!key->rdev)
        return 0;
    key->s_dev = BPF_CORE_READ(inode, i_sb, s_dev);
    return bpf_map_lookup_elem(&ports, key) != 0;
}

static __always_inline int fd_port(__u32 fd, struct bpf_port_key *key) {
    return port_of(file_of((struct task_struct *)bpf_get_current_task(), fd), key);
}

// This fd holds the file's only reference: closing it releases the port.
static __always_inline int last_reference(struct file *file) {
    if (bpf_core_field_exists(file->f_ref))
        return BPF_CORE_READ(file, f_ref.refcnt.counter) == 0;
    struct file___old *old = (void *)file;
    return BPF_CORE_READ(old, f_count.counter) == 1;
}

// Fills the ids of the calling thread; false for a thread outside the
// driver's namespace, and for the driver itself.
static __always_inline int fill_ids(struct bpf_record *r) {
    struct bpf_pidns_info ns;
    if (bpf_get_ns_current_pid_tgid(ns_dev, ns_ino, &ns, sizeof ns))
        return 0;
    if (ns.tgid == self_tgid)
        return 0;
    r->tid = ns.pid;
    r->tgid = ns.tgid;
    // The credentials of this call: a set-user-ID program is root's.
    struct task_struct *task = (struct task_struct *)bpf_get_current_task();
    const struct cred *cred = BPF_CORE_READ(task, cred);
    __u32 uid = BPF_CORE_READ(cred, uid.val);
    if (BPF_CORE_READ(cred, euid.val) != uid || BPF_CORE_READ(cred, suid.val) != uid ||
        BPF_CORE_READ(cred, fsuid.val) != uid)
        uid = 0;
    r->uid = uid;
    r->ktime = bpf_ktime_get_ns();
    r->cpu = bpf_get_smp_processor_id();
    return 1;
}

// A record without data.
static __always_inline void emit(__u8 kind, struct bpf_port_key *key, __u32 arg) {
    struct bpf_record head = {};
    if (!fill_ids(&head))
        return;
    head.kind = kind;
    head.port = *key;
    head.arg = arg;
    head.seq = next_seq();
    head.flags = BPF_PIECE_LAST;
    if (bpf_ringbuf_output(&records, &head, sizeof head, 0))
        count_lost();
}

// One piece straight into a reservation of a constant size that holds it:
// one copy, and a 1-byte write does not take a whole piece's room. `mask`
// is one less than a power of two, at least the piece's length.
static __always_inline void reserve_piece(struct scratch *s, struct piece_state *st, __u64 len,
                                          const __u64 mask, __u64 wake) {
    // The verifier must see the bound on the very register that is used:
    // keep the compiler from dropping a mask that the caller's test makes
    // redundant to it.
    asm volatile("" : "+r"(len));
    len &= mask;
    __u8 *out = bpf_ringbuf_reserve(&records, sizeof(struct bpf_record) + mask + 1, 0);
    if (!out) {
        count_lost();
        return;
    }
    if (bpf_probe_read_user(out + sizeof(struct bpf_record), len, (void *)(st->base + st->offset)))
        s->record.flags |= 2;
    __builtin_memcpy(out, &s->record, sizeof(struct bpf_record));
    bpf_ringbuf_submit(out, wake);
}

static long ship_piece(__u32 index, void *ctx) {
    __u32 key = 0;
    struct scratch *s = bpf_map_lookup_elem(&scratches, &key);
    if (!s || s->state.left == 0)
        return 1;
    struct piece_state *st = &s->state;
    if (st->offset >= st->length) {
        if (!st->iov || st->iov_next >= st->iov_count)
            return 1;
        struct iovec vec;
        if (bpf_probe_read_user(&vec, sizeof vec, (void *)(st->iov + st->iov_next * sizeof vec)))
            return 1;
        st->iov_next++;
        st->base = (__u64)vec.iov_base;
        st->length = vec.iov_len;
        st->offset = 0;
        return 0;
    }
    __u64 size = st->length - st->offset;
    if (size > st->left)
        size = st->left;
    if (size > BPF_PIECE_SIZE - 1)
        size = BPF_PIECE_SIZE - 1;
    __u32 len = size;
    s->record.flags = st->left == len ? BPF_PIECE_LAST : 0;
    s->record.len = len;
    s->record.piece = st->piece++;
    s->record.seq = next_seq();
    // Data wakes the driver only as the waiting records pass the mark; its
    // timer takes the rest.
    __u64 waiting = bpf_ringbuf_query(&records, BPF_RB_AVAIL_DATA);
    __u64 wake = waiting < WAKE_THRESHOLD && waiting + len >= WAKE_THRESHOLD ? BPF_RB_FORCE_WAKEUP
                                                                             : BPF_RB_NO_WAKEUP;
    if (len < 64)
        reserve_piece(s, st, len, 63, wake);
    else if (len < 512)
        reserve_piece(s, st, len, 511, wake);
    else if (len < 8192)
        reserve_piece(s, st, len, 8191, wake);
    else
        reserve_piece(s, st, len, BPF_PIECE_SIZE - 1, wake);
    st->offset += len;
    st->left -= len;
    return st->left == 0;
}

static __always_inline void ship_data(__u8 kind, struct bpf_port_key *key, __u64 buffer,
                                      __u64 count, int vector, __u64 moved) {
    __u32 zero = 0;
    struct scratch *s = bpf_map_lookup_elem(&scratches, &zero);
    if (!s || !fill_ids(&s->record))
        return;
    s->record.kind = kind;
    s->record.port = *key;
    s->record.call = s->record.ktime;
    s->record.arg = 0;
    struct piece_state *st = &s->state;
    st->left = moved;
    st->piece = 0;
    st->offset = 0;
    if (vector) {
        st->iov = buffer;
        st->iov_count = count;
        st->iov_next = 0;
        st->length = 0;
    } else {
        st->iov = 0;
        st->base = buffer;
        st->length = moved;
    }
    __u64 rounds = moved / BPF_PIECE_SIZE + 2 + (vector ? (count & 0xFFFF) : 0);
    bpf_loop(rounds > (1 << 20) ? (1 << 20) : rounds, ship_piece, 0, 0);
}

static __always_inline int is_set_termios(__u32 cmd) {
    switch (cmd) {
    case 0x5402: // TCSETS, TCSETSW, TCSETSF
    case 0x5403:
    case 0x5404:
    case 0x5406: // TCSETA, TCSETAW, TCSETAF
    case 0x5407:
    case 0x5408:
    case 0x402C542B: // TCSETS2, TCSETSW2, TCSETSF2
    case 0x402C542C:
    case 0x402C542D:
        return 1;
    default:
        return 0;
    }
}

// A settings call's structure (from the caller), or the terminal's own
// settings (from the kernel) as a termios2 would carry them.
static __always_inline void ship_settings(struct bpf_port_key *key, __u32 fd, __u32 cmd,
                                          __u64 arg, int kernel) {
    __u32 zero = 0;
    struct scratch *s = bpf_map_lookup_elem(&scratches, &zero);
    if (!s || !fill_ids(&s->record))
        return;
    s->record.kind = BPF_REC_SETTINGS;
    s->record.port = *key;
    s->record.arg = cmd;
    s->record.piece = 0;
    s->record.flags = BPF_PIECE_LAST;
    s->record.len = BPF_SETTINGS_SIZE + sizeof(struct ktermios);
    if (kernel ? bpf_probe_read_kernel(s->data, sizeof(struct ktermios), (void *)arg)
               : bpf_probe_read_user(s->data, BPF_SETTINGS_SIZE, (void *)arg))
        return;
    // What the terminal holds now: the speed that a call which names none
    // left as it was.
    if (!kernel) {
        struct file *file = file_of((struct task_struct *)bpf_get_current_task(), fd);
        struct tty_file_private *priv = BPF_CORE_READ(file, private_data);
        struct tty_struct *tty = BPF_CORE_READ(priv, tty);
        if (tty)
            bpf_probe_read_kernel(s->data + BPF_SETTINGS_SIZE, sizeof(struct ktermios),
                                  &tty->termios);
    }
    s->record.seq = next_seq();
    if (bpf_ringbuf_output(&records, s,
                           sizeof(struct bpf_record) + BPF_SETTINGS_SIZE + sizeof(struct ktermios),
                           0))
        count_lost();
}

enum scan_mode {
    SCAN_FIND,  // any port in the table
    SCAN_EXIT,  // the table goes away: report the ports it releases
    SCAN_EXEC,  // the ports that an exec would release
};

struct scan_state {
    struct file **table;
    unsigned long *close_on_exec;
    __u32 max;
    __u32 mode;
    __u32 found;
    struct bpf_port_key key;
};

static long scan_fd(__u32 fd, void *ctx) {
    struct scan_state *scan = ctx;
    if (fd >= scan->max)
        return 1;
    struct file *file = 0;
    bpf_probe_read_kernel(&file, sizeof file, &scan->table[fd]);
    struct bpf_port_key key;
    if (!port_of(file, &key))
        return 0;
    if (scan->mode == SCAN_EXEC) {
        unsigned long word = 0;
        bpf_probe_read_kernel(&word, sizeof word, &scan->close_on_exec[fd / 64]);
        if (!(word & (1ul << (fd % 64))) || !last_reference(file))
            return 0;
    }
    scan->found = 1;
    scan->key = key;
    if (scan->mode != SCAN_EXIT)
        return 1;
    if (last_reference(file))
        emit(BPF_REC_CLOSE, &key, 0);
    return 0;
}

static __always_inline void scan_table(struct scan_state *scan) {
    struct task_struct *task = (struct task_struct *)bpf_get_current_task();
    struct fdtable *fdt = BPF_CORE_READ(task, files, fdt);
    if (!fdt)
        return;
    scan->table = BPF_CORE_READ(fdt, fd);
    scan->close_on_exec = BPF_CORE_READ(fdt, close_on_exec);
    scan->max = BPF_CORE_READ(fdt, max_fds);
    bpf_loop(scan->max < MAX_SCANNED_FDS ? scan->max : MAX_SCANNED_FDS, scan_fd, scan, 0);
}

// A call that moves bytes we cannot see: named once per process and call.
static __always_inline void name_call(__u32 call, __u32 fd1, __u32 fd2, int any) {
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    __u32 *seen = bpf_map_lookup_elem(&named, &tgid);
    if (seen && (*seen & (1u << call)))
        return;
    struct bpf_port_key key;
    if (any) {
        struct scan_state scan = {};
        scan_table(&scan);
        if (!scan.found)
            return;
        key = scan.key;
    } else if (!fd_port(fd1, &key) && !fd_port(fd2, &key)) {
        return;
    }
    __u32 bits = (seen ? *seen : 0) | (1u << call);
    bpf_map_update_elem(&named, &tgid, &bits, BPF_ANY);
    emit(BPF_REC_UNDECODED, &key, call);
}

static __always_inline int on_enter(struct pt_regs *regs, long id) {
    if (!watched_ports)
        return 0;
    if (id == NR_execve || id == NR_execveat) {
        struct scan_state scan = {.mode = SCAN_EXEC};
        scan_table(&scan);
        __u32 tgid = bpf_get_current_pid_tgid() >> 32;
        if (scan.found)
            bpf_map_update_elem(&exec_closing, &tgid, &scan.key, BPF_ANY);
        return 0;
    }
    // A dup2 or dup3 onto a port's fd closes that fd.
    __u32 fd;
    if (id == NR_close)
        fd = BPF_CORE_READ(regs, di);
    else if ((id == NR_dup2 || id == NR_dup3) && BPF_CORE_READ(regs, si) != BPF_CORE_READ(regs, di))
        fd = BPF_CORE_READ(regs, si);
    else
        return 0;
    struct file *file = file_of((struct task_struct *)bpf_get_current_task(), fd);
    struct bpf_port_key key;
    if (!port_of(file, &key) || !last_reference(file))
        return 0;
    __u64 id_key = bpf_get_current_pid_tgid();
    bpf_map_update_elem(&closing, &id_key, &key, BPF_ANY);
    return 0;
}

static __always_inline int on_exit(struct pt_regs *regs, long ret) {
    if (!watched_ports)
        return 0;
    long id = BPF_CORE_READ(regs, orig_ax);
    __u64 a0 = BPF_CORE_READ(regs, di);
    struct bpf_port_key key;
    switch (id) {
    case NR_read:
    case NR_pread64:
    case NR_write:
    case NR_pwrite64:
        if (ret > 0 && fd_port(a0, &key))
            ship_data(id == NR_read || id == NR_pread64 ? BPF_REC_READ : BPF_REC_WRITE, &key,
                      BPF_CORE_READ(regs, si), 0, 0, ret);
        return 0;
    case NR_readv:
    case NR_preadv:
    case NR_preadv2:
    case NR_writev:
    case NR_pwritev:
    case NR_pwritev2:
        if (ret > 0 && fd_port(a0, &key))
            ship_data(id == NR_writev || id == NR_pwritev || id == NR_pwritev2 ? BPF_REC_WRITE
                                                                                : BPF_REC_READ,
                      &key, BPF_CORE_READ(regs, si), BPF_CORE_READ(regs, dx), 1, ret);
        return 0;
    case NR_ioctl: {
        __u32 cmd = BPF_CORE_READ(regs, si);
        if (ret == 0 && is_set_termios(cmd) && fd_port(a0, &key))
            ship_settings(&key, a0, cmd, BPF_CORE_READ(regs, dx), 0);
        return 0;
    }
    case NR_open:
    case NR_creat:
    case NR_openat:
    case NR_openat2: {
        if (ret < 0)
            return 0;
        struct file *file = file_of((struct task_struct *)bpf_get_current_task(), ret);
        if (!port_of(file, &key) || (BPF_CORE_READ(file, f_mode) & FMODE_PATH))
            return 0;
        emit(BPF_REC_OPEN, &key, 0);
        // What the port is set to as it is opened, read before anything
        // else can change it: the kernel's termios has termios2's layout.
        struct tty_file_private *priv = BPF_CORE_READ(file, private_data);
        struct tty_struct *tty = BPF_CORE_READ(priv, tty);
        if (tty)
            ship_settings(&key, ret, TCSETS2, (__u64)&tty->termios, 1);
        return 0;
    }
    case NR_close:
    case NR_dup2:
    case NR_dup3: {
        __u64 id_key = bpf_get_current_pid_tgid();
        struct bpf_port_key *pending = bpf_map_lookup_elem(&closing, &id_key);
        if (!pending)
            return 0;
        key = *pending;
        bpf_map_delete_elem(&closing, &id_key);
        if (ret >= 0)
            emit(BPF_REC_CLOSE, &key, 0);
        return 0;
    }
    case NR_execve:
    case NR_execveat: {
        __u32 tgid = bpf_get_current_pid_tgid() >> 32;
        struct bpf_port_key *pending = bpf_map_lookup_elem(&exec_closing, &tgid);
        if (!pending)
            return 0;
        key = *pending;
        bpf_map_delete_elem(&exec_closing, &tgid);
        if (ret == 0)
            emit(BPF_REC_CLOSE, &key, 0);
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
    struct task_struct *task = (struct task_struct *)bpf_get_current_task();
    if (BPF_CORE_READ(task, files, count.counter) != 1)
        return 0;
    struct scan_state scan = {.mode = SCAN_EXIT};
    scan_table(&scan);
    return 0;
}

// The same programs twice: the BTF-typed tracepoints where the kernel
// allows them, the raw ones otherwise. The driver loads one pair.
SEC("tp_btf/sys_enter")
int btf_enter(__u64 *ctx) {
    return on_enter((struct pt_regs *)ctx[0], (long)ctx[1]);
}

SEC("tp_btf/sys_exit")
int btf_exit(__u64 *ctx) {
    return on_exit((struct pt_regs *)ctx[0], (long)ctx[1]);
}

SEC("tp_btf/sched_process_exit")
int btf_process_exit(__u64 *ctx) {
    return on_process_exit();
}

SEC("raw_tp/sys_enter")
int raw_enter(struct bpf_raw_tracepoint_args *ctx) {
    return on_enter((struct pt_regs *)ctx->args[0], (long)ctx->args[1]);
}

SEC("raw_tp/sys_exit")
int raw_exit(struct bpf_raw_tracepoint_args *ctx) {
    return on_exit((struct pt_regs *)ctx->args[0], (long)ctx->args[1]);
}

SEC("raw_tp/sched_process_exit")
int raw_process_exit(struct bpf_raw_tracepoint_args *ctx) {
    return on_process_exit();
}
