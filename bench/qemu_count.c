/* A plugin for qemu's user-mode emulator that counts the guest instructions
 * a program executes: under emulation, processor times are noisy and
 * flattened, while counts are exact and repeatable, so they show what a
 * change of the interpreter saves. scripts/bench builds it (-i, -p).
 *
 * At exit it writes "insns N" to qemu's log (-d plugin). With
 * ZOL_PROFILE_OUT set it also writes there one line per translation block
 * executed: "address instructions executions", for a per-function profile.
 *
 * The few declarations of qemu's plugin interface it uses are written out
 * here, as the distribution ships no header for them. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

typedef uint64_t qemu_plugin_id_t;
typedef struct qemu_info_t qemu_info_t;
struct qemu_plugin_tb;
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };
typedef void (*tb_trans_cb)(qemu_plugin_id_t, struct qemu_plugin_tb*);
typedef void (*udata_cb)(qemu_plugin_id_t, void*);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb*);
uint64_t qemu_plugin_tb_vaddr(const struct qemu_plugin_tb*);
void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t, tb_trans_cb);
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb*, enum qemu_plugin_op, void*, uint64_t);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t, udata_cb, void*);
void qemu_plugin_outs(const char*);

#define EXPORT __attribute__((visibility("default")))
EXPORT int qemu_plugin_version = 1;

static uint64_t total;
struct block {
    uint64_t address, insns, executions;
    struct block* next;
};
static struct block* blocks;
static const char* profile_out;

static void translated(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
    (void)id;
    size_t n = qemu_plugin_tb_n_insns(tb);
    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &total, n);
    if (!profile_out) return;
    struct block* b = calloc(1, sizeof *b);
    if (!b) return;
    b->address = qemu_plugin_tb_vaddr(tb);
    b->insns = n;
    b->next = blocks;
    blocks = b;
    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &b->executions, 1);
}

static void finished(qemu_plugin_id_t id, void* data) {
    (void)id, (void)data;
    char line[64];
    snprintf(line, sizeof line, "insns %llu\n", (unsigned long long)total);
    qemu_plugin_outs(line);
    FILE* f = profile_out ? fopen(profile_out, "w") : NULL;
    if (!f) return;
    for (struct block* b = blocks; b; b = b->next)
        if (b->executions)
            fprintf(f, "%llx %llu %llu\n", (unsigned long long)b->address, (unsigned long long)b->insns,
                    (unsigned long long)b->executions);
    fclose(f);
}

EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t* info, int argc, char** argv) {
    (void)info, (void)argc, (void)argv;
    profile_out = getenv("ZOL_PROFILE_OUT");
    qemu_plugin_register_vcpu_tb_trans_cb(id, translated);
    qemu_plugin_register_atexit_cb(id, finished, NULL);
    return 0;
}
