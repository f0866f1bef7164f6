// What the kernel side of the eBPF source hands to the driver through its
// ring buffer. Shared by the BPF program (C) and the driver (C++), so only
// fixed-size C types.
#pragma once

#ifndef __VMLINUX_H__
#include <linux/types.h>
#endif

// The kernel's own encoding of a device number (major << 20 | minor), as
// i_sb->s_dev and i_rdev hold it.
struct bpf_port_key {
    __u32 s_dev;
    __u32 rdev;
};

enum bpf_record_kind {
    BPF_REC_OPEN = 1, // data: the opener's command name (BPF_COMM_SIZE bytes)
    BPF_REC_CLOSE = 2,
    BPF_REC_READ = 3,
    BPF_REC_WRITE = 4,
    BPF_REC_SETTINGS = 5,  // arg: the ioctl command; data: its structure
    BPF_REC_UNDECODED = 6, // arg: a CALL_* code
    BPF_REC_CONTROL = 7,   // arg: the ioctl request; data: struct bpf_control
};

// A control call on a port, or a settings call that failed.
struct bpf_control {
    __u64 value;  // the argument, or the int it points to (modem lines)
    __s64 result; // what the call returned: 0, or a negative errno value
};

#define BPF_COMM_SIZE 16

// Flags of a data record's piece.
#define BPF_PIECE_LAST 1 // the call's data ends with this piece

// A piece of a call's data carries less than this; a longer call comes as
// several pieces that share `call` and count up in `piece`.
#define BPF_PIECE_SIZE 16384
// Settings structures are small (a termios2 is 44 bytes). A settings record
// holds the caller's structure in this many bytes, then the terminal's
// settings after the call (a termios2, 44 bytes).
#define BPF_SETTINGS_SIZE 64
#define BPF_TERMIOS2_SIZE 44

struct bpf_record {
    __u64 ktime; // CLOCK_MONOTONIC ns at the record
    __u64 call;  // a call's identity: its pieces share it
    __u32 seq;   // numbered per CPU: a gap is a lost record
    __u32 cpu;
    __u32 tid; // in the driver's PID namespace
    __u32 tgid;
    __u32 uid; // whose traffic: root when the process's uids differ
    __u32 arg;
    struct bpf_port_key port;
    __u32 len; // data bytes following the header
    __u16 piece;
    __u8 kind;
    __u8 flags;
    // the data follows
};
