#pragma once
// File permissions do not stop root. Tests of refused access run their checks inside an
// Unprivileged scope: when the tests run as root it takes the effective user and group
// "nobody" for the scope (files the fixture made stay root's, so nobody can read but not
// write them); otherwise the permissions already apply.

#include <unistd.h>

namespace korvo::test {

class Unprivileged {
public:
    Unprivileged() {
        if (::geteuid() == 0) {
            switched_ = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
        }
    }
    ~Unprivileged() {
        if (switched_) {
            [[maybe_unused]] int user = ::seteuid(0);
            [[maybe_unused]] int group = ::setegid(0);
        }
    }
    Unprivileged(const Unprivileged&) = delete;
    Unprivileged& operator=(const Unprivileged&) = delete;

    // False when running as root and the switch failed: such a test cannot run here.
    bool effective() const { return ::geteuid() != 0; }

private:
    bool switched_ = false;
};

}  // namespace korvo::test
