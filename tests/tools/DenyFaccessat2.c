/* deny-faccessat2 COMMAND [ARGUMENTS]: runs COMMAND under a seccomp filter that answers the faccessat2
   call with EPERM, as container profiles older than that call do. Tests only. */
#include <errno.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__x86_64__)
#define THIS_ARCH AUDIT_ARCH_X86_64
#elif defined(__aarch64__)
#define THIS_ARCH AUDIT_ARCH_AARCH64
#else
#error "no seccomp architecture for this machine"
#endif

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: deny-faccessat2 COMMAND [ARGUMENTS]\n");
        return 2;
    }
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, THIS_ARCH, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_faccessat2, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {(unsigned short)(sizeof filter / sizeof filter[0]), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        perror("deny-faccessat2: the filter cannot be set");
        return 2;
    }
    execvp(argv[1], argv + 1);
    perror("deny-faccessat2: the command cannot be run");
    return 2;
}
