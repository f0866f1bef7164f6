// The eBPF programs' system call numbers, settings from the driver, maps
// and per-CPU counters.
// Part of vantry.bpf.c, which includes it once.
#pragma once

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
#define NR_close_range 436
#define NR_openat2 437
#define NR_execveat 322

// The calls of the driver's notices (VantryProtocol.h).
#define CALL_SENDFILE 1
#define CALL_SPLICE 2
#define CALL_COPY_FILE_RANGE 3
#define CALL_IO_URING 5
#define CALL_32_BIT 4
#define CALL_IO_SUBMIT 6
// The code segment of a 64-bit caller; a 32-bit one's calls have other numbers.
#define USER64_CS 0x33

#define FMODE_PATH 0x4000
#define CLOSE_RANGE_UNSHARE (1u << 1)
#define CLOSE_RANGE_CLOEXEC (1u << 2)
#define TCSETS2 0x402C542B
// /dev/tty, the caller's controlling terminal: major 5, minor 0.
#define TTYAUX_MAJOR 5
#define CONTROLLING_TTY (TTYAUX_MAJOR << 20)
// A Unix98 pty's driver: its slave's driver_data is the node's dentry on
// its devpts. Older kernels name the bit with a define, newer ones with
// an enum of the same value.
#define TTY_DRIVER_DEVPTS_MEM_BIT 0x0010
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
// Bit n: a watched port has major number n (of 4096).
__u64 port_majors[64] = {};

struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 1024);
    __type(key, struct bpf_port_key);
    __type(value, __u8);
} ports SEC(".maps");

// The watched ports whose node is on no devpts (a UART, a USB adapter), by
// their device number alone: a tty reached through /dev/tty names its
// device number but not the node it was first opened by.
struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 1024);
    __type(key, __u32);
    __type(value, struct bpf_port_key);
} devices SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_RINGBUF);
    __uint(max_entries, 8 << 20);
} records SEC(".maps");

struct piece_state {
    __u64 base;   // the current buffer
    __u64 length; // its length
    __u64 offset; // shipped of it
    __u64 left;   // bytes of the call still to ship
    __u64 iov;    // the iovec array of a vector call, 0 for a plain one
    __u32 iov_count;
    __u32 iov_next;
    __u16 piece;
};

// A record is built here: the stack is too small for the loop's state, and
// a settings record goes out whole from here.
// Pieces shorter than this are copied here first (a power of two, larger
// than a settings record's data).
#define SMALL_PIECE 512

struct scratch {
    struct bpf_record record;
    __u8 data[SMALL_PIECE];
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

// The ports one call releases: a close_range or an exec may release several.
#define MAX_RELEASED 4
struct released {
    __u32 count;
    __u32 pad;
    struct bpf_port_key keys[MAX_RELEASED];
};

// A close of ports' last fds (by close, close_range, or a dup2 over one),
// between its entry and its result.
struct {
    __uint(type, BPF_MAP_TYPE_LRU_HASH);
    __uint(max_entries, 16384);
    __type(key, __u64);
    __type(value, struct released);
} closing SEC(".maps");

// The ports an exec releases (their fds close on exec), by process: a
// thread other than the leader that execs takes the leader's id.
struct {
    __uint(type, BPF_MAP_TYPE_LRU_HASH);
    __uint(max_entries, 16384);
    __type(key, __u32);
    __type(value, struct released);
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
    struct counters* c = bpf_map_lookup_elem(&counts, &key);
    if (!c)
        return 0;
    return c->seq++;
}

static __always_inline void count_lost(void) {
    __u32 key = 0;
    struct counters* c = bpf_map_lookup_elem(&counts, &key);
    if (c)
        c->lost++;
}
