// Shipping a call's bytes and a settings call's structures into the ring
// buffer.
// Part of vantry.bpf.c, which includes it once.
#pragma once

// One piece straight into a reservation of a constant size that holds it:
// one copy, and a 1-byte write does not take a whole piece's room. `mask`
// is one less than a power of two, at least the piece's length.
static __always_inline void reserve_piece(struct scratch* s, struct piece_state* st, __u64 len,
                                          const __u64 mask, __u64 wake) {
    // The verifier must see the bound on the very register that is used:
    // keep the compiler from dropping a mask that the caller's test makes
    // redundant to it.
    asm volatile("" : "+r"(len));
    len &= mask;
    __u8* out = bpf_ringbuf_reserve(&records, sizeof(struct bpf_record) + mask + 1, 0);
    if (!out) {
        count_lost();
        return;
    }
    if (bpf_probe_read_user(out + sizeof(struct bpf_record), len, (void*)(st->base + st->offset)))
        s->record.flags |= 2;
    __builtin_memcpy(out, &s->record, sizeof(struct bpf_record));
    bpf_ringbuf_submit(out, wake);
}

// A small piece is copied next to its header and goes out at its exact
// size: on a busy port the ring buffer's cache lines are most of the cost,
// and a reservation of a constant size would touch several for a byte.
static __always_inline void output_piece(struct scratch* s, struct piece_state* st, __u64 len,
                                         __u64 wake) {
    asm volatile("" : "+r"(len));
    len &= SMALL_PIECE - 1;
    if (bpf_probe_read_user(s->data, len, (void*)(st->base + st->offset)))
        s->record.flags |= 2;
    if (bpf_ringbuf_output(&records, s, sizeof(struct bpf_record) + len, wake))
        count_lost();
}

static long ship_piece(__u32 index, void* ctx) {
    __u32 key = 0;
    struct scratch* s = bpf_map_lookup_elem(&scratches, &key);
    if (!s || s->state.left == 0)
        return 1;
    struct piece_state* st = &s->state;
    if (st->offset >= st->length) {
        if (!st->iov || st->iov_next >= st->iov_count)
            return 1;
        struct iovec vec;
        if (bpf_probe_read_user(&vec, sizeof vec, (void*)(st->iov + st->iov_next * sizeof vec)))
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
    if (len < SMALL_PIECE)
        output_piece(s, st, len, wake);
    else if (len < 8192)
        reserve_piece(s, st, len, 8191, wake);
    else
        reserve_piece(s, st, len, BPF_PIECE_SIZE - 1, wake);
    st->offset += len;
    st->left -= len;
    return st->left == 0;
}

static __always_inline void ship_data(int typed, __u8 kind, struct bpf_port_key* key, __u64 buffer,
                                      __u64 count, int vector, __u64 moved) {
    __u32 zero = 0;
    struct scratch* s = bpf_map_lookup_elem(&scratches, &zero);
    if (!s || !fill_ids(typed, &s->record))
        return;
    s->record.kind = kind;
    s->record.port = *key;
    s->record.call = s->record.ktime;
    s->record.arg = 0;
    struct piece_state* st = &s->state;
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
    // Most calls fit one piece: no loop for them.
    if (!vector && moved < BPF_PIECE_SIZE) {
        ship_piece(0, 0);
        return;
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
static __always_inline void ship_settings(struct bpf_port_key* key, __u32 fd, __u32 cmd, __u64 arg,
                                          int kernel) {
    __u32 zero = 0;
    struct scratch* s = bpf_map_lookup_elem(&scratches, &zero);
    if (!s || !fill_ids(0, &s->record))
        return;
    s->record.kind = BPF_REC_SETTINGS;
    s->record.port = *key;
    s->record.arg = cmd;
    s->record.piece = 0;
    s->record.flags = BPF_PIECE_LAST;
    s->record.len = BPF_SETTINGS_SIZE + sizeof(struct ktermios);
    if (kernel ? bpf_probe_read_kernel(s->data, sizeof(struct ktermios), (void*)arg)
               : bpf_probe_read_user(s->data, BPF_SETTINGS_SIZE, (void*)arg))
        return;
    // What the terminal holds now: the speed that a call which names none
    // left as it was.
    if (!kernel) {
        struct file* file = file_of(0, fd);
        struct tty_file_private* priv = BPF_CORE_READ(file, private_data);
        struct tty_struct* tty = BPF_CORE_READ(priv, tty);
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

static __always_inline int is_port_control(__u32 cmd) {
    switch (cmd) {
    case 0x5409: // TCSBRK
    case 0x540A: // TCXONC
    case 0x540B: // TCFLSH
    case 0x5416: // TIOCMBIS
    case 0x5417: // TIOCMBIC
    case 0x5418: // TIOCMSET
    case 0x5425: // TCSBRKP
    case 0x5427: // TIOCSBRK
    case 0x5428: // TIOCCBRK
        return 1;
    default:
        return 0;
    }
}

// A control call on a port, or a settings call that failed: its value (the
// modem lines' int is read from the caller) and its result.
static __always_inline void ship_control(struct bpf_port_key* key, __u32 cmd, __u64 arg, long ret) {
    struct {
        struct bpf_record head;
        struct bpf_control control;
    } out = {};
    if (!fill_ids(0, &out.head))
        return;
    out.control.value = arg;
    out.control.result = ret;
    if (ret == 0 && cmd >= 0x5416 && cmd <= 0x5418) {
        int lines = 0;
        bpf_probe_read_user(&lines, sizeof lines, (void*)arg);
        out.control.value = (__u32)lines;
    }
    out.head.kind = BPF_REC_CONTROL;
    out.head.port = *key;
    out.head.arg = cmd;
    out.head.len = sizeof out.control;
    out.head.flags = BPF_PIECE_LAST;
    out.head.seq = next_seq();
    if (bpf_ringbuf_output(&records, &out, sizeof out, 0))
        count_lost();
}

// An open, with the opener's command name: a short-lived opener is gone
// before the driver could read it.
static __always_inline void emit_open(struct bpf_port_key* key) {
    struct {
        struct bpf_record head;
        char comm[BPF_COMM_SIZE];
    } out = {};
    if (!fill_ids(0, &out.head))
        return;
    bpf_get_current_comm(out.comm, sizeof out.comm);
    out.head.kind = BPF_REC_OPEN;
    out.head.port = *key;
    out.head.len = sizeof out.comm;
    out.head.flags = BPF_PIECE_LAST;
    out.head.seq = next_seq();
    if (bpf_ringbuf_output(&records, &out, sizeof out, 0))
        count_lost();
}
