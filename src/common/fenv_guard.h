// Floating-point environment discipline: every export saves the caller's
// environment, computes in the default one (round to nearest, no traps) and
// restores the saved one on every exit; every body of a parallel region runs
// in the default one too, saving and restoring its thread's environment
// wherever that is not already the library's.
#ifndef NORVA_COMMON_FENV_GUARD_H
#define NORVA_COMMON_FENV_GUARD_H

#include <cfenv>

namespace norva {

namespace detail {
// Guards of the library open on this thread (a guard installs the default
// environment, and nothing inside the library installs another).
inline thread_local int fenv_depth = 0;
}  // namespace detail

// True on a thread that runs under a guard of the library, where the
// default environment is in force: floating-point shortcuts of the exact
// routines (which must not depend on, nor raise flags in, a caller's
// environment) are taken only there.
inline bool under_guard() { return detail::fenv_depth > 0; }

// The guard of an export: always saves, installs the default environment
// and restores the saved one, whatever the caller's thread was doing (a
// product callback of the caller's may call an export in an environment of
// its own).
class fenv_guard {
public:
    fenv_guard() noexcept {
        std::fegetenv(&saved_);
        std::fesetenv(FE_DFL_ENV);
        ++detail::fenv_depth;
    }
    ~fenv_guard() {
        --detail::fenv_depth;
        std::fesetenv(&saved_);
    }
    fenv_guard(const fenv_guard &) = delete;
    fenv_guard &operator=(const fenv_guard &) = delete;

private:
    std::fenv_t saved_;
};

// The guard of a parallel region's body and of internal entry points: on a
// thread that already runs under a guard of the library (the calling thread,
// thread 0 of a region opened by an export) the default environment is in
// force, and flags raised here are discarded when that guard restores the
// caller's; only there it does nothing, which spares the two environment
// calls that cost more than the whole of a small problem.  Elsewhere (the
// other threads of a team, a direct call from outside) it acts as
// fenv_guard.
class fenv_region {
public:
    fenv_region() noexcept : active_(detail::fenv_depth == 0) {
        if (!active_) return;
        std::fegetenv(&saved_);
        std::fesetenv(FE_DFL_ENV);
        ++detail::fenv_depth;
    }
    ~fenv_region() {
        if (!active_) return;
        --detail::fenv_depth;
        std::fesetenv(&saved_);
    }
    fenv_region(const fenv_region &) = delete;
    fenv_region &operator=(const fenv_region &) = delete;

private:
    bool active_;
    std::fenv_t saved_;
};

}  // namespace norva

#endif
