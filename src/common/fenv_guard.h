// Floating-point environment discipline: every export and every body of a
// parallel region saves the caller's environment, computes in the default one
// (round to nearest, no traps) and restores the saved one on every exit.
#ifndef NORVA_COMMON_FENV_GUARD_H
#define NORVA_COMMON_FENV_GUARD_H

#include <cfenv>

namespace norva {

class fenv_guard {
public:
    fenv_guard() noexcept {
        std::fegetenv(&saved_);
        std::fesetenv(FE_DFL_ENV);
    }
    ~fenv_guard() { std::fesetenv(&saved_); }
    fenv_guard(const fenv_guard &) = delete;
    fenv_guard &operator=(const fenv_guard &) = delete;

private:
    std::fenv_t saved_;
};

}  // namespace norva

#endif
