// The int8 kernels against 64-bit sums (every kernel the processor can run:
// the defining loop, the portable kernel at each instruction-set level, the
// dot-product kernel, the default kernel on threads), the choice of the
// default kernel in child processes with the environment variables set, and
// concurrent first use.
//
// NORVA_I8_EXPECT, when set, names the kernel this processor must get
// without any variable ("sdot" under an emulator with the dot-product
// instruction, "plain" on x86-64 or without it).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(__aarch64__)
#include <sys/auxv.h>
#endif

#include "qxsum/qxsum.h"
#include "qxsum/qxsum_internal.h"

namespace {

// The processor's dot-product feature (AArch64 only).
bool has_dotprod() {
#if defined(__aarch64__)
    return (getauxval(AT_HWCAP) >> 20) & 1;
#else
    return false;
#endif
}

// i8_sdot may run: with the feature, or where it is the portable kernel.
bool can_sdot() {
#if defined(__aarch64__)
    return has_dotprod();
#else
    return true;
#endif
}

using kernel9 = void (*)(uint64_t, uint64_t, uint64_t, const int8_t *, uint64_t, const int8_t *,
                         uint64_t, int32_t *, uint64_t);

struct named {
    std::string name;
    kernel9 run;
};

std::vector<named> kernels() {
    std::vector<named> ks = {{"loop", qx::i8_loop}};
    static const kernel9 levels[] = {
        [](uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda, const int8_t *Bt,
           uint64_t ldb, int32_t *C, uint64_t ldc) { qx::i8_plain_at(0, m, n, k, A, lda, Bt, ldb, C, ldc); },
        [](uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda, const int8_t *Bt,
           uint64_t ldb, int32_t *C, uint64_t ldc) { qx::i8_plain_at(1, m, n, k, A, lda, Bt, ldb, C, ldc); },
        [](uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda, const int8_t *Bt,
           uint64_t ldb, int32_t *C, uint64_t ldc) { qx::i8_plain_at(2, m, n, k, A, lda, Bt, ldb, C, ldc); },
    };
    for (int l = 0; l <= qx::i8_best(); ++l) ks.push_back({"plain level " + std::to_string(l), levels[l]});
    if (can_sdot()) ks.push_back({"sdot", i8_sdot});
    ks.push_back({"internal", [](uint64_t m, uint64_t n, uint64_t k, const int8_t *A, uint64_t lda,
                                 const int8_t *Bt, uint64_t ldb, int32_t *C, uint64_t ldc) {
                      i8_internal(m, n, k, A, lda, Bt, ldb, C, ldc, nullptr);
                  }});
    return ks;
}

TEST(Int8Kernels, AgreeWithWideSums) {
    // k around the 16- and 64-byte steps, the 4- and 2-byte groups and the
    // 512-entry blocks; m and n not multiples of the tiles (2 x 4, 8 x 32,
    // 6 x 16); padded leading dimensions, whose padding must stay untouched.
    struct shape {
        uint64_t m, n, k;
        int fill;  // 0 random bytes, 1 all -128, 2 +127 against -128
    } shapes[] = {{1, 1, 0, 0},   {3, 5, 0, 0},    {1, 1, 1, 0},    {2, 4, 1, 0},    {3, 5, 15, 0},
                  {3, 5, 16, 0},  {3, 5, 17, 0},   {5, 7, 31, 0},   {7, 9, 63, 0},   {9, 33, 64, 0},
                  {8, 32, 65, 0}, {13, 35, 100, 0}, {17, 3, 511, 0}, {9, 40, 513, 0}, {70, 70, 600, 0},
                  {1, 1, 1030, 0}, {3, 2, 32768, 1}, {2, 3, 32768, 2}};
    std::mt19937_64 g(91);
    for (const auto &s : shapes) {
        const uint64_t lda = s.k + 3, ldb = s.k + 1, ldc = s.n + 2;
        std::vector<int8_t> A(s.m * lda), Bt(s.n * ldb);
        for (auto &x : A) x = s.fill == 0 ? (int8_t)g() : s.fill == 1 ? -128 : 127;
        for (auto &x : Bt) x = s.fill == 0 ? (int8_t)g() : -128;
        std::vector<int32_t> want(s.m * ldc, 0x5a5a5a5a);
        for (uint64_t i = 0; i < s.m; ++i)
            for (uint64_t j = 0; j < s.n; ++j) {
                int64_t t = 0;
                for (uint64_t l = 0; l < s.k; ++l) t += (int64_t)A[i * lda + l] * Bt[j * ldb + l];
                want[i * ldc + j] = (int32_t)t;
            }
        for (const named &kn : kernels()) {
            std::vector<int32_t> C(s.m * ldc, 0x5a5a5a5a);
            kn.run(s.m, s.n, s.k, A.data(), lda, Bt.data(), ldb, C.data(), ldc);
            ASSERT_EQ(C, want) << kn.name << ", " << s.m << " x " << s.n << " x " << s.k;
        }
    }
}

// The kernel a fresh process would choose with the given variables (null:
// unset), reported by a child process.
std::string choice_in_child(const char *plain, const char *kernel) {
    int fd[2];
    if (pipe(fd) != 0) return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        plain ? setenv("QXSUM_I8_PLAIN", plain, 1) : unsetenv("QXSUM_I8_PLAIN");
        kernel ? setenv("QXSUM_I8_KERNEL", kernel, 1) : unsetenv("QXSUM_I8_KERNEL");
        std::atomic_ref<int32_t>(i8_which).store(-1);  // as at load time
        const char *name = qxsum_i8_kernel();
        const bool ok = write(fd[1], name, std::strlen(name)) == (ssize_t)std::strlen(name);
        _exit(ok ? 0 : 1);
    }
    close(fd[1]);
    std::string got;
    char buf[64];
    for (ssize_t r; (r = read(fd[0], buf, sizeof buf)) > 0;) got.append(buf, (size_t)r);
    close(fd[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return "child failed";
    return got;
}

TEST(Int8Kernels, ChoiceByProcessorAndEnvironment) {
    const std::string base = choice_in_child(nullptr, nullptr);
    if (const char *e = std::getenv("NORVA_I8_EXPECT")) {
        EXPECT_EQ(base, e);
    }
    EXPECT_EQ(base, has_dotprod() ? "sdot" : "plain");
    // Expected: "plain", or the processor's choice ("base").
    const struct {
        const char *plain, *kernel;
        bool plain_wins;
    } rules[] = {
        {"1", nullptr, true},    {"10", nullptr, true},    {"0", nullptr, false},
        {"", nullptr, false},    {" 1", nullptr, false},   {nullptr, "plain", true},
        {nullptr, "avx2", false}, {nullptr, "vnni", false}, {nullptr, "i8mm", false},
        {nullptr, "sdot", false}, {nullptr, "SDOT", false}, {nullptr, "plain ", false},
        {nullptr, "", false},    {"1", "sdot", false},     {"1", "avx2", true},
        {"1", "nonsense", true}, {"0", "plain", true},
    };
    for (const auto &r : rules)
        EXPECT_EQ(choice_in_child(r.plain, r.kernel), r.plain_wins ? "plain" : base)
            << "QXSUM_I8_PLAIN=" << (r.plain ? r.plain : "(unset)")
            << " QXSUM_I8_KERNEL=" << (r.kernel ? r.kernel : "(unset)");
}

TEST(Int8Kernels, ConcurrentFirstUse) {
    std::atomic_ref<int32_t> which(i8_which);
    which.store(-1);
    i8_pick();
    const int32_t want = which.load();
    const std::string name = qxsum_i8_kernel();
    ASSERT_TRUE(want == 0 || want == 2);
    const int8_t A[3] = {1, -2, 3}, Bt[3] = {4, 5, -6};
    for (int round = 0; round < 20; ++round) {
        which.store(-1);
        std::atomic<bool> go{false};
        std::vector<std::string> names(8);
        std::vector<int32_t> sums(8, 0);
        std::vector<std::thread> team;
        for (int t = 0; t < 8; ++t)
            team.emplace_back([&, t] {
                while (!go.load()) std::this_thread::yield();
                if (t % 2)
                    names[t] = qxsum_i8_kernel();
                else
                    i8_internal(1, 1, 3, A, 3, Bt, 3, &sums[t], 1, nullptr);
            });
        go.store(true);
        for (auto &th : team) th.join();
        EXPECT_EQ(which.load(), want);
        for (int t = 0; t < 8; ++t)
            if (t % 2)
                EXPECT_EQ(names[t], name);
            else
                EXPECT_EQ(sums[t], 4 - 10 - 18);
    }
}

}  // namespace
