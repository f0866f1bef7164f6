// Who calls and on what: a task's fd table, the watched ports in it, and
// records without data.
// Part of vantry.bpf.c, which includes it once.
#pragma once

// Every call of the machine passes these look-ups while a port is watched,
// so the BTF-typed programs (`typed`) read the kernel with plain loads,
// which the verifier checks once; the raw ones must ask a helper for each.
extern void* bpf_rdonly_cast(const void* obj, __u32 btf_id) __ksym __weak;

#define KERNEL_FIELD(typed, object, field)                                                         \
    ((typed) ? (object)->field : BPF_CORE_READ(object, field))

// The calling thread's file on fd, or 0.
static __always_inline struct file* file_of(int typed, __u32 fd) {
    struct fdtable* fdt;
    if (typed) {
        fdt = bpf_get_current_task_btf()->files->fdt;
    } else {
        fdt = BPF_CORE_READ((struct task_struct*)bpf_get_current_task(), files, fdt);
        if (!fdt)
            return 0;
    }
    if (fd >= KERNEL_FIELD(typed, fdt, max_fds))
        return 0;
    struct file** table = KERNEL_FIELD(typed, fdt, fd);
    struct file* file = 0;
    bpf_probe_read_kernel(&file, sizeof file, &table[fd]);
    return file;
}

// Most files the machine reads and writes are no device of a watched
// port's major number: they are let go before the map is asked.
static __always_inline int watched_major(__u32 rdev) {
    __u32 major = rdev >> 20;
    return port_majors[(major / 64) & 63] >> (major % 64) & 1;
}

// A file of /dev/tty reaches the terminal it was opened on, which may be a
// watched port: the tty itself says which. Not a pty master: a master never
// becomes a controlling terminal.
static __always_inline int terminal_port(struct file* file, struct bpf_port_key* key) {
    struct tty_file_private* priv = BPF_CORE_READ(file, private_data);
    struct tty_struct* tty = BPF_CORE_READ(priv, tty);
    struct tty_driver* driver = BPF_CORE_READ(tty, driver);
    if (!driver)
        return 0;
    if (BPF_CORE_READ(driver, flags) & TTY_DRIVER_DEVPTS_MEM_BIT) {
        // A private devpts numbers its ptys as the host's does: the node's
        // file system tells them apart.
        struct dentry* node = BPF_CORE_READ(tty, driver_data);
        key->s_dev = BPF_CORE_READ(node, d_sb, s_dev);
        key->rdev = BPF_CORE_READ(node, d_inode, i_rdev);
        return bpf_map_lookup_elem(&ports, key) != 0;
    }
    __u32 rdev = (__u32)BPF_CORE_READ(driver, major) << 20 |
                 (__u32)(BPF_CORE_READ(driver, minor_start) + BPF_CORE_READ(tty, index));
    struct bpf_port_key* port = bpf_map_lookup_elem(&devices, &rdev);
    if (!port)
        return 0;
    *key = *port;
    return 1;
}

// Whether the file is a watched port, and which.
static __always_inline int port_of(int typed, struct file* file, struct bpf_port_key* key) {
    if (!file)
        return 0;
    struct inode* inode;
    if (typed) {
        file = bpf_rdonly_cast(file, bpf_core_type_id_kernel(struct file));
        inode = file->f_inode;
    } else {
        inode = BPF_CORE_READ(file, f_inode);
    }
    key->rdev = KERNEL_FIELD(typed, inode, i_rdev);
    if (!key->rdev || !watched_major(key->rdev))
        return 0;
    // Major 5 passes while a port is watched (no port has it); of its
    // nodes only /dev/tty may reach one.
    if (key->rdev >> 20 == TTYAUX_MAJOR)
        return key->rdev == CONTROLLING_TTY && terminal_port(file, key);
    key->s_dev = typed ? inode->i_sb->s_dev : BPF_CORE_READ(inode, i_sb, s_dev);
    return bpf_map_lookup_elem(&ports, key) != 0;
}

static __always_inline int fd_port(int typed, __u32 fd, struct bpf_port_key* key) {
    return port_of(typed, file_of(typed, fd), key);
}

// This fd holds the file's only reference: closing it releases the port.
static __always_inline long references(struct file* file) {
    // Newer kernels count from 0 for one reference (file_ref_t).
    if (bpf_core_field_exists(file->f_ref))
        return BPF_CORE_READ(file, f_ref.refcnt.counter) + 1;
    struct file___old* old = (void*)file;
    return BPF_CORE_READ(old, f_count.counter);
}

static __always_inline int last_reference(struct file* file) {
    return references(file) == 1;
}

// Fills the ids of the calling thread; false for a thread outside the
// driver's namespace, and for the driver itself.
static __always_inline int fill_ids(int typed, struct bpf_record* r) {
    struct bpf_pidns_info ns;
    if (bpf_get_ns_current_pid_tgid(ns_dev, ns_ino, &ns, sizeof ns))
        return 0;
    if (ns.tgid == self_tgid)
        return 0;
    r->tid = ns.pid;
    r->tgid = ns.tgid;
    // The credentials of this call: a set-user-ID program is root's.
    const struct cred* cred =
        typed ? bpf_get_current_task_btf()->cred
              : BPF_CORE_READ((struct task_struct*)bpf_get_current_task(), cred);
    __u32 uid = KERNEL_FIELD(typed, cred, uid.val);
    if (KERNEL_FIELD(typed, cred, euid.val) != uid || KERNEL_FIELD(typed, cred, suid.val) != uid ||
        KERNEL_FIELD(typed, cred, fsuid.val) != uid)
        uid = 0;
    r->uid = uid;
    r->ktime = bpf_ktime_get_ns();
    r->cpu = bpf_get_smp_processor_id();
    return 1;
}

// A record without data.
static __always_inline void emit(__u8 kind, struct bpf_port_key* key, __u32 arg) {
    struct bpf_record head = {};
    if (!fill_ids(0, &head))
        return;
    head.kind = kind;
    head.port = *key;
    head.arg = arg;
    head.seq = next_seq();
    head.flags = BPF_PIECE_LAST;
    if (bpf_ringbuf_output(&records, &head, sizeof head, 0))
        count_lost();
}

enum scan_mode {
    SCAN_FIND,  // any port in the table
    SCAN_EXIT,  // the table goes away: report the ports it releases
    SCAN_EXEC,  // the ports that an exec would release
    SCAN_RANGE, // the ports that closing fds first to last would release
};

struct scan_state {
    struct file** table;
    unsigned long* close_on_exec;
    __u32 max;
    __u32 mode;
    __u32 first;
    __u32 last;
    __u32 found;
    struct bpf_port_key key;
    struct file* file;   // the first port found
    long fds;            // the table's fds on it
    struct released out; // SCAN_EXEC, SCAN_RANGE
};

static long scan_fd(__u32 index, void* ctx) {
    struct scan_state* scan = ctx;
    __u32 fd = scan->first + index;
    if (fd >= scan->max || fd > scan->last)
        return 1;
    struct file* file = 0;
    bpf_probe_read_kernel(&file, sizeof file, &scan->table[fd]);
    struct bpf_port_key key;
    if (!port_of(0, file, &key))
        return 0;
    if (scan->mode == SCAN_EXEC || scan->mode == SCAN_RANGE) {
        if (scan->mode == SCAN_EXEC) {
            unsigned long word = 0;
            bpf_probe_read_kernel(&word, sizeof word, &scan->close_on_exec[fd / 64]);
            if (!(word & (1ul << (fd % 64))))
                return 0;
        }
        if (!last_reference(file))
            return 0;
        __u32 n = scan->out.count;
        if (n >= MAX_RELEASED)
            return 1;
        scan->out.keys[n] = key;
        scan->out.count = n + 1;
        return 0;
    }
    // A port this table alone holds, on this fd alone, goes with the table.
    if (scan->mode == SCAN_EXIT && last_reference(file)) {
        emit(BPF_REC_CLOSE, &key, 0);
        return 0;
    }
    if (scan->found && file != scan->file)
        return 0; // a second port held on several fds: its close is not told
    scan->found = 1;
    scan->key = key;
    scan->file = file;
    scan->fds++;
    return scan->mode != SCAN_EXIT;
}

static __always_inline void scan_table(struct scan_state* scan) {
    struct task_struct* task = (struct task_struct*)bpf_get_current_task();
    struct fdtable* fdt = BPF_CORE_READ(task, files, fdt);
    if (!fdt)
        return;
    scan->table = BPF_CORE_READ(fdt, fd);
    scan->close_on_exec = BPF_CORE_READ(fdt, close_on_exec);
    scan->max = BPF_CORE_READ(fdt, max_fds);
    if (scan->mode != SCAN_RANGE)
        scan->last = scan->max;
    __u32 end = scan->last < scan->max ? scan->last + 1 : scan->max;
    if (end <= scan->first)
        return;
    __u32 count = end - scan->first;
    bpf_loop(count < MAX_SCANNED_FDS ? count : MAX_SCANNED_FDS, scan_fd, scan, 0);
}

// A call that moves bytes we cannot see: named once per process and call.
static __always_inline void name_call(__u32 call, __u32 fd1, __u32 fd2, int any) {
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    __u32* seen = bpf_map_lookup_elem(&named, &tgid);
    if (seen && (*seen & (1u << call)))
        return;
    struct bpf_port_key key;
    if (any) {
        struct scan_state scan = {};
        scan_table(&scan);
        if (!scan.found)
            return;
        key = scan.key;
    } else if (!fd_port(0, fd1, &key) && !fd_port(0, fd2, &key)) {
        return;
    }
    __u32 bits = (seen ? *seen : 0) | (1u << call);
    bpf_map_update_elem(&named, &tgid, &bits, BPF_ANY);
    emit(BPF_REC_UNDECODED, &key, call);
}
